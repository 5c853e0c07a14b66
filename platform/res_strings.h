// SPDX-License-Identifier: MIT
// The message table: every text the program builds at run time, with its decimal
// identifier. The program's dictionary (i18n/dictionary.tsv) translates them by identifier,
// so an identifier, once given, keeps its text; a changed text gets a new identifier.
// Formats are filled with FmtRes() (printf style) or, where marked, QString::arg.
//
// Identifier ranges: 1000 platform, 2000 image model and formats, 3000 TIFF, 4000 PNG,
// 5000 thumbnails, 6000 information panel and grid, 7000 folder tree, 8000 dictionary,
// 9000 viewer, 10000 main window, 65000 and up the windowing framework's own texts
// (message-box buttons, key names).
#pragma once

#include "platform/res_string.h"

#include <span>

namespace pix {

// 1000: Platform: files, streams, memory, pipes, registry and ini files.
inline constexpr TResString SErrCreateMapping{1001, "Error creating file mapping (%d)"};
inline constexpr TResString SErrMapView{1002, "Error mapping view of file (%d)"};
inline constexpr TResString SErrCreateFile{1003, "Error creating file \"%s\" (%d)"};
inline constexpr TResString SErrInvalidMapping{1004, "Invalid file mapping handle"};
inline constexpr TResString SErrFileTooLarge{
    1005, "File \"%s\" is too large: files of 2 GiB or more are not supported"};
inline constexpr TResString SReadError{1006, "Stream read error"};
inline constexpr TResString SWriteError{1007, "Stream write error"};
inline constexpr TResString SSeekError{1008, "Stream seek error"};
inline constexpr TResString SLoadCancelled{1009, "Loading was cancelled"};
inline constexpr TResString SErrWriteFile{1010, "Error writing file \"%s\" (%d)"};
inline constexpr TResString SErrCreatePipe{1011, "Error creating pipe (%d)"};
inline constexpr TResString SRegGetDataFailed{1012, "Could not get data for '%s'"};
inline constexpr TResString SRegSetDataFailed{1013, "Could not set data for '%s'"};
inline constexpr TResString SInvalidRegType{1014, "Invalid data type for '%s'"};
inline constexpr TResString SIniFileWriteError{1015, "Unable to write to %s"};
inline constexpr TResString SUnknownError{1016, "Unknown error"};

// 1100: Platform: the fixed names of the shell namespace's virtual folders.
inline constexpr TResString SDesktopName{1101, "Desktop"};
inline constexpr TResString SHomeName{1102, "Home"};
inline constexpr TResString SComputerName{1103, "Computer"};
inline constexpr TResString SFileSystemName{1104, "File System"};

// 1200: Platform: the folder context menu and its Properties dialog. "%1" is filled with
// QString::arg.
inline constexpr TResString SOpenInFileManager{1201, "Open in File Manager"};
inline constexpr TResString SCopyLocation{1202, "Copy Location"};
inline constexpr TResString SProperties{1203, "Properties"};
inline constexpr TResString SPropertiesTitle{1204, "%1 Properties"};
inline constexpr TResString SNameLabel{1205, "Name:"};
inline constexpr TResString SLocationLabel{1206, "Location:"};
inline constexpr TResString STypeLabel{1207, "Type:"};
inline constexpr TResString SContentsLabel{1208, "Contents:"};
inline constexpr TResString SSizeLabel{1209, "Size:"};
inline constexpr TResString SModifiedLabel{1210, "Modified:"};
inline constexpr TResString SPermissionsLabel{1211, "Permissions:"};
inline constexpr TResString SFreeSpaceLabel{1212, "Free space:"};
inline constexpr TResString SCapacityLabel{1213, "Capacity:"};
inline constexpr TResString SFolderType{1214, "Folder"};
inline constexpr TResString SFileType{1215, "File"};
inline constexpr TResString SOneItem{1216, "1 item"};
inline constexpr TResString SItems{1217, "%1 items"};
inline constexpr TResString SFilesSize{1218, "%1 in files"};
inline constexpr TResString SCannotRead{1219, "Cannot be read"};

// 2000: Image model and formats.
inline constexpr TResString SErrCreateDibMapping{2001, "Error creating file mapping"};
inline constexpr TResString SErrCreateDibSection{2002, "Error creating DIB section"};
inline constexpr TResString SInvalidDibPointer{2003, "Invalid DIB pointer"};
inline constexpr TResString SInvalidDibHandle{2004, "Invalid DIB handle"};
inline constexpr TResString SDibBitCountFormat{2005, "%s (BitCount=%d)"};
inline constexpr TResString SDibNotSupported{2006, "DIB format is not supported"};
inline constexpr TResString SNotEnoughMemory{2007, "Not enough memory"};
inline constexpr TResString SInvalidImageSize{2008, "Invalid image size (%d x %d)"};
inline constexpr TResString SImageTooLarge{2009, "Image too large (%d x %d)"};
inline constexpr TResString SPictureTooLarge{
    2010, "Picture needs %llu MB, more than the limit of %llu MB"};
inline constexpr TResString SInvalidBmpFormat{2011, "Invalid BMP format"};
inline constexpr TResString SBmpHeaderNotSupported{2012, "BMP header of %u bytes is not supported"};
inline constexpr TResString SBmpCompressionNotSupported{2013,
                                                        "BMP compression %u is not supported"};
inline constexpr TResString SBmpBitCountNotSupported{2014,
                                                     "BMP with %u bits per pixel is not supported"};
inline constexpr TResString SBmpInvalidBitfields{2015, "Invalid BMP colour masks"};
inline constexpr TResString SBmpInvalidRle{2016, "Invalid BMP run-length data"};
inline constexpr TResString SBmpTruncated{2017, "BMP pixel data is incomplete"};
inline constexpr TResString SInvalidPsdFormat{2018, "File is no valid VEXA-PSD format"};
inline constexpr TResString SPsdPaletteNotFound{2019, "Resource \"VEXA_PAL\" not found"};
inline constexpr TResString SJpegError{2020, "JPEG error: %s"};
inline constexpr TResString SFormatNotSupported{2021, "%s images are not supported"};
inline constexpr TResString STagAsciiNeeded{2022, "Tag with ASCII data type needed"};

// 3000: TIFF reader and writer.
inline constexpr TResString SInvalidTiffIdentifier{3001, "Invalid TIFF identifier"};
inline constexpr TResString SMissingIfdEntry{3002, "Missing IFD entry"};
inline constexpr TResString SMissingImageWidth{3003, "Missing ImageWidth tag"};
inline constexpr TResString SMissingImageHeight{3004, "Missing ImageHeight tag"};
inline constexpr TResString SCcittNotSupported{3005, "CCITT compression is not supported"};
inline constexpr TResString SFax3NotSupported{3006, "FAX3 compression is not supported"};
inline constexpr TResString SFax4NotSupported{3007, "FAX4 compression is not supported"};
inline constexpr TResString SJpegCompressionNotSupported{3008, "JPEG compression is not supported"};
inline constexpr TResString SPackbitsNotSupported{3009, "PACKBITS compression is not supported"};
inline constexpr TResString SUnknownCompression{3010, "Unknown compression format"};
inline constexpr TResString SFillOrderNotSupported{3011, "This fillorder mode is not supported"};
inline constexpr TResString SPlanarNotSupported{3012, "Separated color planes are not supported"};
inline constexpr TResString SExtraSamplesNotSupported{3013, "Extra samples are not supported"};
inline constexpr TResString STiledNotSupported{3014, "Tiled images are not supported"};
inline constexpr TResString SMissingStripOffsets{3015, "Missing StripOffsets tag"};
inline constexpr TResString SMissingStripByteCounts{3016, "Missing StripByteCounts tag"};
inline constexpr TResString SInvalidStripData{3017, "Invalid strip data"};
inline constexpr TResString STransparencyMaskNotSupported{
    3018, "Transparence mask format is not supported"};
inline constexpr TResString SCmykNotSupported{3019, "CMYK format is not supported"};
inline constexpr TResString SYCbCrNotSupported{3020, "YCbCr format is not supported"};
inline constexpr TResString SCieLabNotSupported{3021, "CIE L*a*b* is not supported"};
inline constexpr TResString SMissingBitsPerSample{3022, "Missing BitsPerSample tag"};
inline constexpr TResString SLzw16NotSupported{
    3023, "LZW compression is not supported for 16 bit samples"};
inline constexpr TResString STiffFormatNotSupported{3024, "This TIFF format is not supported"};
inline constexpr TResString SInvalidColorInformation{3025, "Invalid color information found"};
inline constexpr TResString SMissingColorMap{3026, "Missing ColorMap tag"};
inline constexpr TResString SRgbSamplesPerPixel{
    3027, "Only 3 samples per pixel for RGB images are supported"};
inline constexpr TResString SRgbBitsPerSample{
    3028, "Only 8 bits per sample for RGB images are supported"};
inline constexpr TResString SInvalidStripOffsets{3029, "Invalid StripOffsets tag"};
inline constexpr TResString SInvalidStripByteCounts{3030, "Invalid StripByteCounts tag"};
inline constexpr TResString SInvalidLzwCode{3031, "Invalid LZW code found"};
inline constexpr TResString SPhotometricNotSupported{
    3032, "This photometric interpretation is not supported"};
inline constexpr TResString SPalette16NotSupported{
    3033, "Palette images with 16 bits per sample are not supported"};
inline constexpr TResString SSampleFormatNotSupported{
    3034, "Only unsigned integer samples are supported"};
inline constexpr TResString SStripOutsideFile{3035, "Strip data lies outside the file"};
inline constexpr TResString SStripDataMissing{3036, "Strip data is missing from the file"};

// 4000: PNG decoder. The texts are kept exactly as users and translators know them, spelling
// included.
inline constexpr TResString SPngInvalidFileHeader{
    4001,
    "The file being readed is not a valid \"Portable Network Graphics\" image because it contains "
    "an invalid header. This file may be corruped, try obtaining it again."};
inline constexpr TResString SPngUnexpectedEnd{
    4002,
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected "
    "end of the file."};
inline constexpr TResString SPngIHDRNotFirst{
    4003,
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\n(IHDR "
    "chunk is not the first)"};
inline constexpr TResString SPngUnknownCriticalChunk{
    4004,
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not be "
    "decoded."};
inline constexpr TResString SPngInvalidCRC{
    4005,
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of "
    "data (crc error)"};
inline constexpr TResString SPngInvalidIHDR{
    4006,
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of "
    "data (ihdr) might be corrupted"};
inline constexpr TResString SPngSizeExceeds{
    4007,
    "This \"Portable Network Graphics\" image is not supported because either it's width or height "
    "exceeds the maximum size, which is 65535 pixels length."};
inline constexpr TResString SPngUnknownCompression{
    4008,
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which "
    "could not be decoded."};
inline constexpr TResString SPngUnknownInterlace{
    4009,
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
    "decoded."};
inline constexpr TResString SPngInvalidPalette{
    4010, "The \"Portable Network Graphics\" image contains an invalid palette."};
inline constexpr TResString SPngMissingMultipleIDAT{
    4011,
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts."};
inline constexpr TResString SPngZLIBError{
    4012, "Could not decompress the image because it contains invalid compressed data."};
inline constexpr TResString SPngZLIBDescription{4013, "\n Description: "};
inline constexpr TResString SPngNoImageData{
    4014, "This \"Portable Network Graphics\" image contains no data."};
inline constexpr TResString SPngOutMemory{
    4015,
    "Some operation could not be performed because the system is out of resources. Close some "
    "windows and try again."};
inline constexpr TResString SPngNoSuchPaletteEntry{4016, "There is no such palette entry."};
inline constexpr TResString SPngInvalidColorFormat{
    4017,
    "This \"Portable Network Graphics\" image has an invalid combination of colour type %u and bit "
    "depth %u."};
inline constexpr TResString SPngSaveNotSupported{4018, "Saving pictures as PNG is not supported"};

// 5000: Thumbnail engine. None is shown: a bad cache file only costs the reuse of its thumbnails.
inline constexpr TResString SInvalidThumbnailFile{5001, "Invalid thumbnail file"};
inline constexpr TResString SThumbCacheTooLarge{5002, "Thumbnail cache file too large"};
inline constexpr TResString SThumbCacheWriteCancelled{5003, "Thumbnail cache write cancelled"};
inline constexpr TResString SPictureMemoryBusy{5004, "Picture memory is in use by other loads"};

// 6000: Information panel.
inline constexpr TResString SInfoRecordTime{6001, "Record time:"};
inline constexpr TResString SInfoFileDate{6002, "File date:"};
inline constexpr TResString SInfoImageNumber{6003, "Image number:"};
inline constexpr TResString SInfoFileSize{6004, "File size:"};
inline constexpr TResString SInfoSingleImages{6005, "Single images:"};
inline constexpr TResString SInfoFormat{6006, "Format:"};
inline constexpr TResString SInfoAuthor{6007, "Author:"};
inline constexpr TResString SInfoCopyright{6008, "Copyright:"};
inline constexpr TResString SInfoComment{6009, "Comment:"};
inline constexpr TResString SInfoLinescan{6010, "Linescan data present"};
inline constexpr TResString SInfoPointscan{6011, "Pointscan data present"};
inline constexpr TResString SInfoMeasurement{6012, "Measurement data present"};
inline constexpr TResString SInfoLeftOut{6013, "[%s more lines, %s bytes left out]"};
inline constexpr TResString SInfoDefaultParamFormat{
    6014, "Magnification: %.0fx\r\nWorking Distance: %.0f mm\r\nHigh Voltage: %.0f kV"};

// 8000: Dictionary reader.
inline constexpr TResString SInvalidIvdStream{8001, "The stream is not a valid IVD stream"};
inline constexpr TResString SInvalidLanguageOffset{8002, "Invalid language offset"};
inline constexpr TResString SInvalidTranslationOffset{8003, "Invalid translation offset"};
inline constexpr TResString SNoCustomLocales{8004, "No custom locales"};
inline constexpr TResString SInvalidLocaleOffset{8005, "Invalid locale offset"};
inline constexpr TResString SDictIndexOutOfBounds{8006, "List index out of bounds (%d)"};
// The dictionary component and the translator.
inline constexpr TResString SNoDictionary{
    8100, "No dictionary has been assigned to the translator component (%s on \"%s\" form)"};
inline constexpr TResString SNoFileName{8101, "No FileName property set"};
inline constexpr TResString SNoSupportedLanguage{
    8102, "System does not support any language of the dicitonary!"};
inline constexpr TResString SLanguageIndexOutOfRange{8103, "Language index %d is out of range"};
inline constexpr TResString SUnknownTargetsVersion{8104,
                                                   "Unknown target properties data version: %d"};
inline constexpr TResString SLanguageNotSupportedBySystem{8105,
                                                          "%s is not supported by the system"};
inline constexpr TResString SLanguageNotSupportedByCodePage{8106,
                                                            "%s is not supported by the code page"};
inline constexpr TResString SLocaleNotSupportedBySystem{
    8107, "The locale (%d, %d) is not supported by the system"};
inline constexpr TResString SLocaleNotSupportedByCodePage{
    8108, "The locale (%d, %d) is not supported by the current code page"};
inline constexpr TResString SNoTranslation{
    8109, "Dictionary does not contain a translation for the word \"%s\""};
inline constexpr TResString SDictionaryNotFound{8110, "Dictionary \"%s\" not found"};

// 9000: Viewer: load errors, then status-bar texts filled with QString::arg.
inline constexpr TResString SViewerFileGone{9001, "The file no longer exists"};
inline constexpr TResString SViewerFileMissing{9002, "The file does not exist"};
inline constexpr TResString SViewerNoImage{9003, "No image"};
inline constexpr TResString SViewerNoImageFile{9004, "The folder holds no image file"};
inline constexpr TResString SViewerImageNotInFile{9005, "The file holds no image %d"};
inline constexpr TResString SViewerUnknownError{9006, "Unknown error"};
inline constexpr TResString SViewerImageOf{9007, "Image %1 of %2"};
inline constexpr TResString SViewerZoom{9008, "%1 %"};
inline constexpr TResString SViewerZoomFit{9009, "%1 % (fit)"};
inline constexpr TResString SViewerWindow{9010, "Window %1 - %2"};
inline constexpr TResString SViewerSample{9011, "x %1  y %2: %3"};
inline constexpr TResString SViewerIndexColor{9012, "x %1  y %2: index %3 (%4, %5, %6)"};
inline constexpr TResString SViewerRgbColor{9013, "x %1  y %2: (%3, %4, %5)"};
inline constexpr TResString SViewerSampleIndex{9014, "x %1  y %2: %3 (index %4)"};

// 10000: Main window, splash and About box (with its list of version resources). "%1" markers are
// filled with QString::arg.
inline constexpr TResString SDeleteQuestion{10001, "Do you really want to delete file %s?"};
inline constexpr TResString SConfirmCaption{10002, "Confirm"};
inline constexpr TResString SDeleteFailed{10003, "Could not delete file %1: %2"};
inline constexpr TResString SVersionFormat{10004, "Version %s"};
inline constexpr TResString SVersionResource{10005, "Resource"};
inline constexpr TResString SVersionValue{10006, "Value"};

// 65000: Windowing framework: message-box button texts.
inline constexpr TResString SMsgOk{65001, "OK"};
inline constexpr TResString SMsgSave{65002, "Save"};
inline constexpr TResString SMsgSaveAll{65003, "Save All"};
inline constexpr TResString SMsgOpen{65004, "Open"};
inline constexpr TResString SMsgYes{65005, "&Yes"};
inline constexpr TResString SMsgYesToAll{65006, "Yes to &All"};
inline constexpr TResString SMsgNo{65007, "&No"};
inline constexpr TResString SMsgNoToAll{65008, "N&o to All"};
inline constexpr TResString SMsgAbort{65009, "Abort"};
inline constexpr TResString SMsgRetry{65010, "Retry"};
inline constexpr TResString SMsgIgnore{65011, "Ignore"};
inline constexpr TResString SMsgClose{65012, "Close"};
inline constexpr TResString SMsgCancel{65013, "Cancel"};
inline constexpr TResString SMsgDiscard{65014, "Discard"};
inline constexpr TResString SMsgHelp{65015, "Help"};
inline constexpr TResString SMsgApply{65016, "Apply"};
inline constexpr TResString SMsgReset{65017, "Reset"};
inline constexpr TResString SMsgRestoreDefaults{65018, "Restore Defaults"};

// 65100: Windowing framework: key names of shortcut texts. "F%1" takes the function key's number.
inline constexpr TResString SKeyCtrl{65101, "Ctrl"};
inline constexpr TResString SKeyAlt{65102, "Alt"};
inline constexpr TResString SKeyShift{65103, "Shift"};
inline constexpr TResString SKeyMeta{65104, "Meta"};
inline constexpr TResString SKeyNum{65105, "Num"};
inline constexpr TResString SKeyDel{65106, "Del"};
inline constexpr TResString SKeyIns{65107, "Ins"};
inline constexpr TResString SKeyEnter{65108, "Enter"};
inline constexpr TResString SKeyReturn{65109, "Return"};
inline constexpr TResString SKeyEsc{65110, "Esc"};
inline constexpr TResString SKeyTab{65111, "Tab"};
inline constexpr TResString SKeyBacktab{65112, "Backtab"};
inline constexpr TResString SKeyBackspace{65113, "Backspace"};
inline constexpr TResString SKeySpace{65114, "Space"};
inline constexpr TResString SKeyHome{65115, "Home"};
inline constexpr TResString SKeyEnd{65116, "End"};
inline constexpr TResString SKeyPgUp{65117, "PgUp"};
inline constexpr TResString SKeyPgDown{65118, "PgDown"};
inline constexpr TResString SKeyLeft{65119, "Left"};
inline constexpr TResString SKeyRight{65120, "Right"};
inline constexpr TResString SKeyUp{65121, "Up"};
inline constexpr TResString SKeyDown{65122, "Down"};
inline constexpr TResString SKeyPause{65123, "Pause"};
inline constexpr TResString SKeyPrint{65124, "Print"};
inline constexpr TResString SKeySysReq{65125, "SysReq"};
inline constexpr TResString SKeyCapsLock{65126, "CapsLock"};
inline constexpr TResString SKeyNumLock{65127, "NumLock"};
inline constexpr TResString SKeyScrollLock{65128, "ScrollLock"};
inline constexpr TResString SKeyMenu{65129, "Menu"};
inline constexpr TResString SKeyHelp{65130, "Help"};
inline constexpr TResString SKeyF{65131, "F%1"};

// 65200: the edit commands of the framework's text controls and spin boxes; 65300: its
// scroll bars' context menu.
inline constexpr TResString SCtlUndo{65201, "&Undo"};
inline constexpr TResString SCtlRedo{65202, "&Redo"};
inline constexpr TResString SCtlCut{65203, "Cu&t"};
inline constexpr TResString SCtlCopy{65204, "&Copy"};
inline constexpr TResString SCtlPaste{65205, "&Paste"};
inline constexpr TResString SCtlDelete{65206, "Delete"};
inline constexpr TResString SCtlSelectAll{65207, "Select All"};
inline constexpr TResString SCtlSelectAllMarked{65208, "&Select All"};
inline constexpr TResString SCtlCopyLink{65209, "Copy &Link Location"};
inline constexpr TResString SCtlStepUp{65210, "&Step up"};
inline constexpr TResString SCtlStepDown{65211, "Step &down"};
inline constexpr TResString SScrollHere{65301, "Scroll here"};
inline constexpr TResString SScrollLeftEdge{65302, "Left edge"};
inline constexpr TResString SScrollTop{65303, "Top"};
inline constexpr TResString SScrollRightEdge{65304, "Right edge"};
inline constexpr TResString SScrollBottom{65305, "Bottom"};
inline constexpr TResString SScrollPageLeft{65306, "Page left"};
inline constexpr TResString SScrollPageUp{65307, "Page up"};
inline constexpr TResString SScrollPageRight{65308, "Page right"};
inline constexpr TResString SScrollPageDown{65309, "Page down"};
inline constexpr TResString SScrollLeft{65310, "Scroll left"};
inline constexpr TResString SScrollUp{65311, "Scroll up"};
inline constexpr TResString SScrollRight{65312, "Scroll right"};
inline constexpr TResString SScrollDown{65313, "Scroll down"};

// Every entry above, in the same order: for checks that walk the whole table.
std::span<const TResString> MessageTable();

}  // namespace pix
