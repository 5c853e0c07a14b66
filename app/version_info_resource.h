// SPDX-License-Identifier: MIT
// The version reader: a file's version block, its strings and version numbers, and the
// labels and list view that show them.
#pragma once

#include "platform/version_info.h"

#include <QObject>
#include <QPointer>

#include <bitset>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QTreeWidget;

namespace pix {

// The rows the list view can show; also the index of each name in kVersionResourceNames.
enum TVersionResource {
    pdCompanyName,
    pdFileDescription,
    pdFileVersion,
    pdInternalName,
    pdLegalCopyright,
    pdLegalTrademarks,
    pdOriginalFilename,
    pdProductName,
    pdProductVersion,
    pdComments,
    pdBuildFlags,
};
inline constexpr int kVersionResourceCount = pdBuildFlags + 1;
using TVersionResources = std::bitset<kVersionResourceCount>;

// The strings' names in a version block, and the list view's captions.
inline constexpr std::string_view kVersionResourceNames[kVersionResourceCount] = {
    "CompanyName",    "FileDescription", "FileVersion",      "InternalName",
    "LegalCopyright", "LegalTrademarks", "OriginalFilename", "ProductName",
    "ProductVersion", "Comments",        "BuildFlags"};
// The names of the file flags VS_FF_DEBUG, VS_FF_INFOINFERRED, VS_FF_PATCHED,
// VS_FF_PRERELEASE, VS_FF_PRIVATEBUILD and VS_FF_SPECIALBUILD, in this order.
inline constexpr std::string_view kBuildFlagNames[] = {"Debug",       "Info Inferred", "Patched",
                                                       "Pre-Release", "Private",       "Special"};

// The fixed information of a version reader: its version words and file flags, all 0 when
// the block has none.
class TFixedFileVersionInfo {
public:
    explicit TFixedFileVersionInfo(const std::optional<TVSFixedFileInfo>& info) : FInfo(info) {}
    std::uint32_t FileVersionMS() const { return FInfo ? FInfo->dwFileVersionMS : 0; }
    std::uint32_t FileVersionLS() const { return FInfo ? FInfo->dwFileVersionLS : 0; }
    std::uint32_t ProductVersionMS() const { return FInfo ? FInfo->dwProductVersionMS : 0; }
    std::uint32_t ProductVersionLS() const { return FInfo ? FInfo->dwProductVersionLS : 0; }
    std::uint32_t FileFlags() const { return FInfo ? FInfo->dwFileFlags : 0; }

private:
    const std::optional<TVSFixedFileInfo>& FInfo;
};

// Reads the version block of a file (the program's own by default) and shows it in the
// labels and the list view linked to it. A linked control that is freed is unlinked.
class TVersionInfoResource : public QObject {
public:
    explicit TVersionInfoResource(QObject* owner = nullptr);
    ~TVersionInfoResource() override;

    // The file whose block is read; empty for the program's own file. Setting it reads.
    const std::string& Filename() const { return FFilename; }
    void SetFilename(const std::string& filename);
    // When the code runs in a library, read the executable that loaded it instead.
    bool ForceEXE() const { return FForceEXE; }
    void SetForceEXE(bool forceExe);

    std::string CompanyName() const { return StringByIndex(pdCompanyName); }
    std::string FileDescription() const { return StringByIndex(pdFileDescription); }
    std::string FileVersionString() const { return StringByIndex(pdFileVersion); }
    std::string InternalName() const { return StringByIndex(pdInternalName); }
    std::string LegalCopyright() const { return StringByIndex(pdLegalCopyright); }
    std::string LegalTrademarks() const { return StringByIndex(pdLegalTrademarks); }
    std::string OriginalFilename() const { return StringByIndex(pdOriginalFilename); }
    std::string ProductName() const { return StringByIndex(pdProductName); }
    std::string Comments() const { return StringByIndex(pdComments); }

    // The string named by kVersionResourceNames[index] for the current translation; empty for
    // an index outside the table or a string the block lacks.
    std::string StringByIndex(int index) const;
    // "%d.%d.%d.%d" of the fixed information's versions, empty without a block.
    std::string FileVersionText() const { return FFileVersion.Text(); }
    std::string ProductVersionText() const { return FProductVersion.Text(); }
    const TFixedFileVersionInfo& FixedFileInfo() const { return FFixedFileInfo; }

    // Linking a label takes its row out of ShowResource and shows its text at once.
    QLabel* VersionLabel() const;
    void SetVersionLabel(QLabel* label);
    QLabel* CopyrightLabel() const;
    void SetCopyrightLabel(QLabel* label);
    QLabel* ProductLabel() const;
    void SetProductLabel(QLabel* label);
    QLabel* DescriptionLabel() const;
    void SetDescriptionLabel(QLabel* label);
    QTreeWidget* VersionListView() const;
    void SetVersionListView(QTreeWidget* view);
    TVersionResources ShowResource() const { return FShowResource; }
    void SetShowResource(TVersionResources rows);

protected:
    // Filename, else the program's executable, else (in a library) the library's file.
    virtual std::string GetFilename() const;
    // The labels' texts and the list view's rows.
    virtual void UpdateControls();
    // The names of the set file flags in the order of kBuildFlagNames, joined by ", ".
    virtual std::string BuildFlagsText() const;
    // Two columns "Resource" and "Value", one row per entry of ShowResource.
    virtual void FillListView();
    // Reads the block again and updates the linked controls.
    virtual void Refresh();

private:
    std::string StringByName(std::string_view name) const;
    void LinkLabel(QPointer<QLabel>& link, QLabel* label, TVersionResource row);

    std::string FFilename;
    bool FForceEXE = false;
    std::vector<std::uint8_t> FBlock;
    // Language and code page of each translation, as eight lower-case hexadecimal digits.
    std::vector<std::string> FTranslations;
    std::size_t FTranslationIndex = 0;
    std::optional<TVSFixedFileInfo> FFixedInfo;
    TFixedFileVersionInfo FFixedFileInfo{FFixedInfo};
    TVersionNumberInformation FFileVersion;
    TVersionNumberInformation FProductVersion;
    QPointer<QLabel> FVersionLabel;
    QPointer<QLabel> FCopyrightLabel;
    QPointer<QLabel> FProductLabel;
    QPointer<QLabel> FDescriptionLabel;
    QPointer<QTreeWidget> FVersionListView;
    TVersionResources FShowResource = TVersionResources().set();
};

// The version reader of the About box and the splash: its protected operations opened to
// the forms, nothing else changed.
class TVersionInfoResourceHack : public TVersionInfoResource {
public:
    using TVersionInfoResource::BuildFlagsText;
    using TVersionInfoResource::FillListView;
    using TVersionInfoResource::GetFilename;
    using TVersionInfoResource::Refresh;
    using TVersionInfoResource::TVersionInfoResource;
    using TVersionInfoResource::UpdateControls;
};

}  // namespace pix
