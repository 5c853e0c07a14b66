// SPDX-License-Identifier: MIT
#include "app/version_info_resource.h"

#include "platform/byte_order.h"
#include "platform/error.h"
#include "platform/gui/framework_translator.h"
#include "platform/process.h"
#include "platform/res_strings.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

namespace pix {
namespace {

// The flag of each name in kBuildFlagNames.
constexpr std::uint32_t kBuildFlags[] = {VS_FF_DEBUG,      VS_FF_INFOINFERRED, VS_FF_PATCHED,
                                         VS_FF_PRERELEASE, VS_FF_PRIVATEBUILD, VS_FF_SPECIALBUILD};
static_assert(std::size(kBuildFlags) == std::size(kBuildFlagNames));

// The list view's rows, in order.
constexpr TVersionResource kListRows[] = {
    pdProductName,     pdProductVersion, pdCompanyName,  pdLegalCopyright,   pdLegalTrademarks,
    pdFileDescription, pdFileVersion,    pdInternalName, pdOriginalFilename, pdBuildFlags};

// An address inside the module this code was linked into.
const char kModuleMarker = 0;

QString FromLocal(const std::string& text) { return QString::fromUtf8(text.c_str()); }

}  // namespace

TVersionInfoResource::TVersionInfoResource(QObject* owner) : QObject(owner) {}

TVersionInfoResource::~TVersionInfoResource() = default;

void TVersionInfoResource::SetFilename(const std::string& filename) {
    FFilename = filename;
    Refresh();
}

void TVersionInfoResource::SetForceEXE(bool forceExe) {
    if (forceExe == FForceEXE) return;
    FForceEXE = forceExe;
    Refresh();
}

std::string TVersionInfoResource::StringByIndex(int index) const {
    if (index < 0 || index >= kVersionResourceCount) return {};
    return StringByName(kVersionResourceNames[index]);
}

std::string TVersionInfoResource::StringByName(std::string_view name) const {
    const std::string translation =
        FTranslationIndex < FTranslations.size() ? FTranslations[FTranslationIndex] : std::string();
    std::string text;
    const std::string path = "\\StringFileInfo\\" + translation + "\\" + std::string(name);
    if (FBlock.empty() || !VerQueryValueA(FBlock, path, text)) return {};
    return text;
}

QLabel* TVersionInfoResource::VersionLabel() const { return FVersionLabel; }
QLabel* TVersionInfoResource::CopyrightLabel() const { return FCopyrightLabel; }
QLabel* TVersionInfoResource::ProductLabel() const { return FProductLabel; }
QLabel* TVersionInfoResource::DescriptionLabel() const { return FDescriptionLabel; }
QTreeWidget* TVersionInfoResource::VersionListView() const { return FVersionListView; }

void TVersionInfoResource::LinkLabel(QPointer<QLabel>& link, QLabel* label, TVersionResource row) {
    link = label;
    if (label != nullptr) FShowResource.reset(row);
    UpdateControls();
}

void TVersionInfoResource::SetVersionLabel(QLabel* label) {
    LinkLabel(FVersionLabel, label, pdFileVersion);
}
void TVersionInfoResource::SetCopyrightLabel(QLabel* label) {
    LinkLabel(FCopyrightLabel, label, pdLegalCopyright);
}
void TVersionInfoResource::SetProductLabel(QLabel* label) {
    LinkLabel(FProductLabel, label, pdProductName);
}
void TVersionInfoResource::SetDescriptionLabel(QLabel* label) {
    LinkLabel(FDescriptionLabel, label, pdFileDescription);
}

void TVersionInfoResource::SetVersionListView(QTreeWidget* view) {
    FVersionListView = view;
    UpdateControls();
}

void TVersionInfoResource::SetShowResource(TVersionResources rows) {
    FShowResource = rows;
    UpdateControls();
}

std::string TVersionInfoResource::GetFilename() const {
    if (!FFilename.empty()) return FFilename;
    const std::string library = LibraryFileName(&kModuleMarker);
    if (library.empty() || FForceEXE) return ProgramFileName();
    return library;
}

void TVersionInfoResource::UpdateControls() {
    if (FVersionLabel) FVersionLabel->setText(FromLocal(FileVersionText()));
    if (FCopyrightLabel) FCopyrightLabel->setText(FromLocal(LegalCopyright()));
    if (FProductLabel) FProductLabel->setText(FromLocal(ProductName()));
    if (FDescriptionLabel) FDescriptionLabel->setText(FromLocal(FileDescription()));
    if (FVersionListView) FillListView();
}

std::string TVersionInfoResource::BuildFlagsText() const {
    const std::uint32_t flags = FFixedFileInfo.FileFlags();
    std::string text;
    for (std::size_t i = 0; i < std::size(kBuildFlags); ++i) {
        if ((flags & kBuildFlags[i]) == 0) continue;
        if (!text.empty()) text += ", ";
        text += kBuildFlagNames[i];
    }
    return text;
}

void TVersionInfoResource::FillListView() {
    QTreeWidget* view = FVersionListView;
    if (view == nullptr) return;
    view->clear();
    view->setColumnCount(0);
    // A report: no tree lines, nothing to edit, headers that do not sort.
    view->setRootIsDecorated(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    view->header()->setSectionsClickable(false);
    view->setHeaderLabels({LoadResQString(SVersionResource), LoadResQString(SVersionValue)});
    // With no rows yet, each column takes its header's width.
    view->resizeColumnToContents(0);
    view->resizeColumnToContents(1);
    for (TVersionResource row : kListRows) {
        if (!FShowResource.test(row)) continue;
        std::string value;
        switch (row) {
            case pdProductVersion:
                value = ProductVersionText();
                break;
            case pdFileVersion:
                value = FileVersionText();
                break;
            case pdBuildFlags:
                value = BuildFlagsText();
                break;
            default:
                value = StringByIndex(row);
                break;
        }
        view->addTopLevelItem(new QTreeWidgetItem(
            QStringList{FromLocal(std::string(kVersionResourceNames[row])), FromLocal(value)}));
    }
}

void TVersionInfoResource::Refresh() {
    FTranslations.clear();
    FFixedInfo.reset();
    FBlock.clear();
    const std::string filename = GetFilename();
    const std::uint32_t size = GetFileVersionInfoSizeA(filename);
    FBlock.resize(size);
    // The file may have lost its block since its size was asked.
    if (size == 0 || !GetFileVersionInfoA(filename, FBlock)) FBlock.clear();
    if (!FBlock.empty()) {
        FFixedInfo = pix::FixedFileInfo(FBlock);
        std::span<const std::uint8_t> table;
        if (VerQueryValueA(FBlock, "\\VarFileInfo\\Translation", table)) {
            // Language and code page, 16 bits each.
            for (std::size_t at = 0; at + 4 <= table.size(); at += 4)
                FTranslations.push_back(
                    Fmt("%.4x%.4x", LoadLE16(&table[at]), LoadLE16(&table[at + 2])));
        }
    }
    // A block whose root holds no fixed information has no version to show either.
    FFileVersion = {FFixedInfo.has_value(), FFixedFileInfo.FileVersionMS(),
                    FFixedFileInfo.FileVersionLS()};
    FProductVersion = {FFixedInfo.has_value(), FFixedFileInfo.ProductVersionMS(),
                       FFixedFileInfo.ProductVersionLS()};
    if (FTranslationIndex >= FTranslations.size()) FTranslationIndex = 0;
    UpdateControls();
}

}  // namespace pix
