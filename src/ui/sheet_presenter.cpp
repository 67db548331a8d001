#include "ui/sheet_presenter.hpp"

#include "ui/alias_sheet.hpp"
#include "ui/backup_sheet.hpp"
#include "ui/cache_info_sheet.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/fcp_locked_sheet.hpp"
#include "ui/icloud_sheet.hpp"
#include "ui/missing_cache_sheet.hpp"
#include "viewmodel/main_view_model.hpp"
#include "viewmodel/texts.hpp"

#include <QWidget>

namespace vellico::ui {

using VM = viewmodel::MainViewModel;
using viewmodel::ActiveSheet;

SheetPresenter::SheetPresenter(viewmodel::MainViewModel& viewModel, QWidget* parent)
    : QObject(parent), m_viewModel(viewModel), m_parent(parent)
{}

void SheetPresenter::close()
{
    if (m_sheet) {
        m_sheet->dismiss();
        m_sheet = nullptr;
    }
}

void SheetPresenter::present()
{
    close();
    if (SheetDialog* dialog = makeSheet()) {
        m_sheet = dialog;
        dialog->open();
    }
}

SheetDialog* SheetPresenter::makeSheet()
{
    const auto sheet = m_viewModel.activeSheet();
    if (!sheet) {
        return nullptr;
    }
    const auto& info = m_viewModel.bundleInfo();
    SheetDialog* dialog = nullptr;
    switch (*sheet) {
    case ActiveSheet::warning:
        if (info) {
            auto* warning = new DeleteWarningSheet(m_viewModel.selectedSize(),
                                                   viewmodel::texts::displayText(info->name),
                                                   m_viewModel.selectedPreset(), m_parent);
            connect(warning, &DeleteWarningSheet::confirmed, &m_viewModel, &VM::startDeletion);
            connect(warning, &DeleteWarningSheet::cancelled, &m_viewModel, &VM::dismissSheet);
            dialog = warning;
        }
        break;
    case ActiveSheet::alias:
        if (const auto& aliasData = m_viewModel.aliasSheetData()) {
            auto* alias = new AliasSheet(aliasData->aliasName, m_parent);
            connect(alias, &AliasSheet::responded, &m_viewModel, &VM::handleAliasResponse);
            dialog = alias;
        }
        break;
    case ActiveSheet::backup:
        if (const auto& backupData = m_viewModel.backupSheetData()) {
            auto* backup = new BackupSheet(
                backupData->backupName, viewmodel::texts::pathText(backupData->originalURL.stem()),
                m_parent);
            connect(backup, &BackupSheet::responded, &m_viewModel, &VM::handleBackupResponse);
            dialog = backup;
        }
        break;
    case ActiveSheet::iCloud: {
        auto* cloud = new ICloudSheet(m_viewModel.iCloudSheetLibName(),
                                      m_viewModel.iCloudSheetIsDownloaded(), m_parent);
        connect(cloud, &ICloudSheet::responded, &m_viewModel, &VM::handleICloudResponse);
        dialog = cloud;
        break;
    }
    case ActiveSheet::missingCache: {
        auto* missing = new MissingCacheSheet(m_viewModel.missingCachePath(), m_parent);
        connect(missing, &MissingCacheSheet::responded, &m_viewModel,
                &VM::handleMissingCacheResponse);
        dialog = missing;
        break;
    }
    case ActiveSheet::cacheInfo:
        if (info) {
            std::int64_t all = 0;
            for (const model::FoundFolder& folder : info->foundFolders) {
                all += folder.size;
            }
            auto* cache = new CacheInfoSheet(all, info->cacheTotalSize, m_parent);
            connect(cache, &CacheInfoSheet::dismissed, &m_viewModel, &VM::dismissSheet);
            dialog = cache;
        }
        break;
    case ActiveSheet::fcpLocked: {
        auto* locked = new FCPLockedSheet(
            m_viewModel.fcpLockedSheetLibName(), m_viewModel.fcpLockedSheetHost(),
            m_viewModel.fcpLockedSheetApplication(), m_viewModel.canShowFinalCutPro(), m_parent);
        connect(locked, &FCPLockedSheet::responded, &m_viewModel, &VM::handleFCPLockedResponse);
        connect(locked, &FCPLockedSheet::showEditorRequested, &m_viewModel, &VM::showFinalCutPro);
        dialog = locked;
        break;
    }
    }
    return dialog;
}

} // namespace vellico::ui
