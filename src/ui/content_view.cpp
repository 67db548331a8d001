#include "ui/content_view.hpp"

#include "ui/content_parts.hpp"

#include "product_config.hpp"
#include "ui/accessibility.hpp"
#include "ui/aligned_icon_label.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/drop_zone.hpp"
#include "ui/elided_label.hpp"
#include "ui/fade.hpp"
#include "ui/folder_list_view.hpp"
#include "ui/library_open_panel.hpp"
#include "ui/spinner.hpp"
#include "ui/symbol_icons.hpp"
#include "ui/theme.hpp"
#include "ui/ui_text.hpp"
#include "ui/wrapping_label.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/main_view_model.hpp"

#include <QApplication>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace vellico::ui {

using viewmodel::AppState;
using VM = viewmodel::MainViewModel;
using content::card;
using content::divider;
using content::makeLabel;
using content::scrollArea;
using content::sizeText;

MainWindowContent::MainWindowContent(VM& viewModel, QWidget* parent)
    : QWidget(parent), m_viewModel(viewModel), m_sheets(new SheetPresenter(viewModel, this))
{
    setFixedSize(500, 590);
    setAutoFillBackground(true);
    setAccessibleName(QStringLiteral("Vellico"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);

    auto* top = new QWidget(this);
    auto* topColumn = new QVBoxLayout(top);
    topColumn->setContentsMargins(28, 0, 28, 12);
    topColumn->setSpacing(12);
    topColumn->addWidget(makeHeader());
    m_dropZone = new DropZone(top);
    auto* dropHolder = new QWidget(top);
    auto* dropMargin = new QVBoxLayout(dropHolder);
    dropMargin->setContentsMargins(0, 4, 0, 0);
    dropMargin->addWidget(m_dropZone);
    topColumn->addWidget(dropHolder);
    m_dropZone->setProperty("holder", QVariant::fromValue<QObject*>(dropHolder));
    topColumn->addWidget(makeErrorBanner());
    topColumn->addWidget(makeAnalysisIndicator());
    topColumn->addWidget(makeSummary());
    column->addWidget(top);

    m_listDivider = divider(this);
    column->addWidget(m_listDivider);
    m_listScroll = scrollArea(this, 12);
    m_folderList = new FolderListView(viewModel, m_listScroll);
    m_listScroll->setWidget(m_folderList);
    column->addWidget(m_listScroll, 1);

    m_panelScroll = scrollArea(this, 12);
    column->addWidget(m_panelScroll, 1);

    // The introduction scrolls when a long error banner above leaves it too
    // little height: squeezed, its wrapped lines were cut off.
    m_introScroll = scrollArea(this, 28);
    m_introScroll->setWidget(makeIntroduction());
    column->addWidget(m_introScroll, 1);

    m_actionDivider = divider(this);
    column->addWidget(m_actionDivider);
    column->addWidget(makeActionBar());

    // Takes the free height when no part of the state fills it, so the
    // content stays at the top.
    m_filler = new QWidget(this);
    column->addWidget(m_filler, 1);

    connect(m_dropZone, &DropZone::libraryDropped, &viewModel, &VM::handleDrop);
    connect(m_dropZone, &DropZone::librariesDropped, this, &MainWindowContent::librariesOpened);
    connect(m_dropZone, &DropZone::clicked, this, &MainWindowContent::showOpenPanel);

    for (auto signal :
         {&VM::appStateChanged, &VM::bundleInfoChanged, &VM::errorMessageChanged,
          &VM::analysisStatusChanged, &VM::isFCPLockedChanged, &VM::selectedFoldersChanged,
          &VM::selectedPresetChanged, &VM::freedSpaceChanged, &VM::deletionErrorsChanged}) {
        connect(&viewModel, signal, this, &MainWindowContent::refresh);
    }
    connect(&viewModel, &VM::bundleInfoChanged, this, [this] {
        m_listShown = false; // a new library: the list starts collapsed again
        refresh();
    });
    connect(&viewModel, &VM::activeSheetChanged, m_sheets, &SheetPresenter::present);
    connect(&viewModel, &VM::filesScannedChanged, this, &MainWindowContent::updateFilesScanned);
    connect(&viewModel, &VM::deletionProgressChanged, this,
            &MainWindowContent::updateDeletionProgress);
    connect(&viewModel, &VM::closePanelsRequested, this, [this] {
        if (m_openPanel) {
            m_openPanel->reject();
        }
    });
    refresh();
    m_sheets->present();
}

MainWindowContent::~MainWindowContent()
{
    m_sheets->close();
}

QWidget* MainWindowContent::makeHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 12, 0, 0);
    row->setSpacing(8);
    auto* icon = new QLabel(header);
    icon->setFixedSize(36, 36);
    icon->setPixmap(
        symbolPixmap(QStringLiteral("vellico"), 36, Qt::white, QColor(), devicePixelRatioF()));
    row->addWidget(icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    titles->addWidget(makeLabel(VELLICO_TEXT("Vellico\u202F: un clic, des gigas en moins."),
                                TextStyle::title2, colors::primary(), header, QFont::Bold));
    titles->addWidget(makeLabel(QCoreApplication::applicationVersion(), TextStyle::caption,
                                colors::secondary(), header));
    row->addLayout(titles);
    row->addStretch(1);
    auto* help = new QToolButton(header);
    help->setAutoRaise(true);
    // Borderless, with a ring when the keyboard brings the focus to it.
    help->setStyleSheet(
        QStringLiteral("QToolButton { border: 2px solid transparent; "
                       "border-radius: 6px; background: transparent; padding: 1px; }"
                       "QToolButton:focus { border-color: %1; }")
            .arg(css(colors::accent())));
    help->setIcon(QIcon(symbolPixmap(QStringLiteral("questionmark.circle"), 20, colors::secondary(),
                                     QColor(), devicePixelRatioF())));
    help->setIconSize(QSize(20, 20));
    help->setToolTip(VELLICO_TEXT("Documentation (⌘?)"));
    help->setAccessibleName(VELLICO_TEXT("Documentation"));
    help->setCursor(Qt::PointingHandCursor);
    connect(help, &QToolButton::clicked, this, &MainWindowContent::documentationRequested);
    row->addWidget(help, 0, Qt::AlignVCenter);
    return header;
}

QWidget* MainWindowContent::makeErrorBanner()
{
    auto* banner = new QFrame(this);
    banner->setObjectName(QStringLiteral("errorBanner"));
    banner->setStyleSheet(
        QStringLiteral(
            "#errorBanner { background: %1; border: 1px solid %2; border-radius: 10px; }")
            .arg(css(withOpacity(colors::orange(), 0.10)),
                 css(withOpacity(colors::orange(), 0.30))));
    auto* row = new QHBoxLayout(banner);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(10);
    row->addWidget(new SymbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 14,
                                   colors::orange(), banner),
                   0, Qt::AlignTop);
    m_errorText = makeLabel(QString(), TextStyle::subheadline, colors::primary(), banner);
    m_errorText->setWordWrap(true);
    m_errorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_errorText, 1);
    m_errorBanner = banner;
    return banner;
}

QWidget* MainWindowContent::makeAnalysisIndicator()
{
    m_analysis = new QWidget(this);
    auto* column = new QVBoxLayout(m_analysis);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addStretch(1);
    row->addWidget(new Spinner(16, m_analysis));
    row->addWidget(makeLabel(VELLICO_TEXT("Analyse en cours\u2026"), TextStyle::subheadline,
                             colors::secondary(), m_analysis));
    row->addStretch(1);
    column->addLayout(row);
    m_analysisStatus = makeLabel(QString(), TextStyle::caption, colors::secondary(), m_analysis);
    m_analysisStatus->setAlignment(Qt::AlignHCenter);
    m_analysisStatus->setWordWrap(true);
    m_analysisStatus->hide();
    column->addWidget(m_analysisStatus);
    m_filesScanned = makeLabel(QString(), TextStyle::caption, colors::secondary(), m_analysis);
    m_filesScanned->setAlignment(Qt::AlignHCenter);
    m_filesScanned->setAccessibleName(VELLICO_TEXT("Fichiers analysés"));
    column->addWidget(m_filesScanned);
    updateFilesScanned();
    // Stops the analysis (its walk is told to stop) and goes back to idle.
    auto* cancel = new QPushButton(VELLICO_TEXT("Annuler"), m_analysis);
    cancel->setObjectName(QStringLiteral("cancelAnalysis"));
    cancel->setAutoDefault(false);
    cancel->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Escape));
    cancel->setAccessibleName(cancel->text());
    connect(cancel, &QPushButton::clicked, &m_viewModel, &VM::reset);
    column->addWidget(cancel, 0, Qt::AlignHCenter);
    return m_analysis;
}

QWidget* MainWindowContent::makeSummary()
{
    m_summary = new QWidget(this);
    auto* column = new QVBoxLayout(m_summary);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(8);
    m_name = new ElidedLabel(m_summary);
    m_name->setAlwaysShowsFullText(true);
    styleLabel(m_name, TextStyle::title3, colors::primary(), QFont::DemiBold);
    nameRow->addWidget(m_name);
    m_aliasBadge = makeLabel(VELLICO_TEXT("Alias"), TextStyle::caption2, colors::secondary(),
                             m_summary, QFont::Medium);
    m_aliasBadge->setStyleSheet(QStringLiteral("QLabel { background: %1; border-radius: 4px; "
                                               "padding: 2px 5px; }")
                                    .arg(css(withOpacity(colors::secondary(), 0.15))));
    m_aliasBadge->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    nameRow->addWidget(m_aliasBadge, 0, Qt::AlignVCenter);
    // The name gives way before the badge and the size: the space between
    // them takes what is left over, so the badge stays right after the name.
    nameRow->addStretch(1);
    m_totalSize =
        makeLabel(QString(), TextStyle::subheadline, colors::primary(), m_summary, QFont::Bold);
    m_totalSize->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    nameRow->addWidget(m_totalSize);
    column->addLayout(nameRow);

    m_path = new ElidedLabel(m_summary);
    styleLabel(m_path, TextStyle::caption2, colors::secondary());
    column->addWidget(m_path);
    // The cache line says what the path is: the external cache, or where
    // the missing one was expected.
    m_cacheRow = new QWidget(m_summary);
    auto* cacheRow = new QHBoxLayout(m_cacheRow);
    cacheRow->setContentsMargins(0, 0, 0, 0);
    cacheRow->setSpacing(4);
    m_cacheLabel = makeLabel(QString(), TextStyle::caption2, colors::secondary(), m_cacheRow);
    m_cacheLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    cacheRow->addWidget(m_cacheLabel);
    m_cachePath = new ElidedLabel(m_cacheRow);
    styleLabel(m_cachePath, TextStyle::caption2, colors::secondary());
    cacheRow->addWidget(m_cachePath, 1);
    column->addWidget(m_cacheRow);
    m_unreadable = makeLabel(QString(), TextStyle::caption2, colors::redText(), m_summary);
    m_unreadable->setWordWrap(true);
    column->addWidget(m_unreadable);

    m_reclaimableRow = new QWidget(m_summary);
    auto* reclaimable = new QHBoxLayout(m_reclaimableRow);
    reclaimable->setContentsMargins(0, 0, 0, 0);
    reclaimable->addWidget(makeLabel(VELLICO_TEXT("Espace récupérable"), TextStyle::subheadline,
                                     colors::secondary(), m_reclaimableRow));
    reclaimable->addStretch(1);
    m_reclaimableSize = makeLabel(QString(), TextStyle::subheadline, colors::redText(),
                                  m_reclaimableRow, QFont::Bold);
    reclaimable->addWidget(m_reclaimableSize);
    column->addWidget(m_reclaimableRow);

    m_emptyNotice = new QWidget(m_summary);
    auto* notice = new QVBoxLayout(m_emptyNotice);
    notice->setContentsMargins(0, 8, 0, 0);
    auto* none = makeLabel(VELLICO_TEXT("Aucun dossier à supprimer trouvé."), TextStyle::title3,
                           colors::secondary(), m_emptyNotice);
    auto* again = makeLabel(VELLICO_TEXT("Glissez une autre bibliothèque."), TextStyle::subheadline,
                            colors::secondary(), m_emptyNotice);
    none->setAlignment(Qt::AlignHCenter);
    again->setAlignment(Qt::AlignHCenter);
    notice->addWidget(none);
    notice->addWidget(again);
    column->addWidget(m_emptyNotice);
    return m_summary;
}

QWidget* MainWindowContent::makeActionBar()
{
    m_actionBar = new QWidget(this);
    auto* column = new QVBoxLayout(m_actionBar);
    column->setContentsMargins(28, 12, 28, 12);
    column->setSpacing(10);

    auto* picker = new QHBoxLayout;
    picker->setSpacing(8);
    picker->addWidget(
        makeLabel(VELLICO_TEXT("Sélection :"), TextStyle::body, colors::primary(), m_actionBar));
    m_presets = new QButtonGroup(m_actionBar);
    m_presets->setExclusive(true);
    // The two presets are one set of exclusive choices for assistive
    // technology: radio buttons in a grouping named after the picker.
    auto* choices = new AccessiblePanel(AccessibleKind::choiceGroup, m_actionBar);
    choices->setAccessibleName(VELLICO_TEXT("Sélection"));
    auto* segments = new QHBoxLayout(choices);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    for (const model::EditingPreset preset : model::allEditingPresets) {
        auto* segment =
            new ChoiceButton(viewmodel::texts::translate(model::labelKey(preset)), choices);
        segment->setAutoDefault(false);
        segment->setAccessibleName(segment->text());
        segment->setStyleSheet(
            QStringLiteral(
                "QPushButton { background: %1; color: %2; border: 1px solid %3; padding: 4px 12px; "
                "border-radius: 0px; } QPushButton:checked { background: %4; color: white; }"
                "QPushButton:focus { border-color: %5; }")
                .arg(css(QColor(62, 62, 66)), css(colors::primary()), css(QColor(80, 80, 86)),
                     css(QColor(99, 99, 106)), css(colors::accent())));
        m_presets->addButton(segment, static_cast<int>(preset));
        segments->addWidget(segment, 1);
    }
    picker->addWidget(choices, 1);
    column->addLayout(picker);
    connect(m_presets, &QButtonGroup::idClicked, this, [this](int id) {
        if (const auto preset = model::editingPresetFromRaw(id)) {
            m_viewModel.applyPreset(*preset);
        }
    });

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    m_resetButton = new QPushButton(VELLICO_TEXT("Annuler"), m_actionBar);
    m_resetButton->setAutoDefault(false);
    makeStandard(m_resetButton);
    m_resetButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Escape));
    m_resetButton->setAccessibleName(m_resetButton->text());
    connect(m_resetButton, &QPushButton::clicked, &m_viewModel, &VM::reset);
    m_deleteButton = new QPushButton(m_actionBar);
    m_deleteButton->setAutoDefault(false);
    makeProminent(m_deleteButton, colors::red());
    connect(m_deleteButton, &QPushButton::clicked, this, &MainWindowContent::deleteClicked);
    buttons->addWidget(m_resetButton);
    buttons->addWidget(m_deleteButton, 1);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(8);
    stack->addLayout(buttons);
    m_lockedLine =
        makeLabel(VELLICO_TEXT("Suppression impossible : bibliothèque ouverte dans Final Cut Pro."),
                  TextStyle::caption, colors::orange(), m_actionBar);
    m_lockedLine->setWordWrap(true);
    stack->addWidget(m_lockedLine);
    column->addLayout(stack);
    return m_actionBar;
}

void MainWindowContent::updateTabOrder()
{
    // The list's rows are built after the action bar: put them back between
    // the drop zone and the presets, in the order they are shown.
    QList<QWidget*> chain{m_dropZone};
    chain += m_folderList->focusChain();
    for (QAbstractButton* button : m_presets->buttons()) {
        chain.append(button);
    }
    chain << m_resetButton << m_deleteButton;
    for (qsizetype i = 0; i + 1 < chain.size(); ++i) {
        setTabOrder(chain[i], chain[i + 1]);
    }
}

QPushButton* MainWindowContent::presetButton(model::EditingPreset preset) const
{
    return qobject_cast<QPushButton*>(m_presets->button(static_cast<int>(preset)));
}

void MainWindowContent::refresh()
{
    const AppState state = m_viewModel.appState();
    const auto& info = m_viewModel.bundleInfo();
    const bool ready = state == AppState::ready && info.has_value();
    const bool hasFolders = ready && !info->foundFolders.empty();

    static_cast<QWidget*>(m_dropZone->property("holder").value<QObject*>())
        ->setVisible(state != AppState::deleting);
    m_errorBanner->setVisible(m_viewModel.errorMessage().has_value());
    m_errorText->setText(m_viewModel.errorMessage().value_or(QString()));
    m_analysis->setVisible(state == AppState::analyzing);
    // The status line keeps its last text while it fades out.
    if (const auto& status = m_viewModel.analysisStatus()) {
        m_analysisStatus->setText(*status);
    }
    setVisibleWithFade(m_analysisStatus, m_viewModel.analysisStatus().has_value());

    m_summary->setVisible(ready);
    if (ready) {
        refreshSummary();
    }

    if (hasFolders && !m_listShown) {
        m_folderList->reload(); // shown anew: every group collapsed
        updateTabOrder();
    }
    if (!hasFolders) {
        m_folderList->popover().dismiss();
    }
    m_listShown = hasFolders;
    m_listDivider->setVisible(hasFolders);
    m_listScroll->setVisible(hasFolders);

    const bool panel = state == AppState::deleting || state == AppState::done;
    m_panelScroll->setVisible(panel);
    if (panel) {
        refreshPanel();
    } else {
        m_doneShown = false;
    }
    m_introScroll->setVisible(state == AppState::idle);
    m_actionDivider->setVisible(hasFolders);
    m_actionBar->setVisible(hasFolders);
    if (hasFolders) {
        refreshActionBar();
    }
    m_filler->setVisible(!hasFolders && !panel && state != AppState::idle);
}

void MainWindowContent::refreshSummary()
{
    const model::BundleInfo& info = *m_viewModel.bundleInfo();
    const QString name = viewmodel::texts::displayText(info.name);
    m_name->setFullText(name);
    m_aliasBadge->setVisible(info.isFromAlias);
    m_totalSize->setText(sizeText(info.totalSize));
    std::filesystem::path withoutExtension = info.url;
    withoutExtension.replace_extension();
    m_path->setFullText(viewmodel::texts::pathText(withoutExtension));
    if (info.cacheURL) {
        m_cacheLabel->setText(VELLICO_TEXT("Cache externe :"));
        m_cachePath->setFullText(viewmodel::texts::pathText(*info.cacheURL));
    } else {
        m_cacheLabel->setText(VELLICO_TEXT("Cache introuvable :"));
        m_cachePath->setFullText(m_viewModel.missingCachePath());
    }
    m_cachePath->setAccessibleName(m_cacheLabel->text());
    m_cacheRow->setVisible(!m_cachePath->fullText().isEmpty());
    m_unreadable->setVisible(!info.unreadableFolders.empty());
    m_unreadable->setText(info.unreadableFolders.empty()
                              ? QString()
                              : viewmodel::texts::unreadableFolders(info.unreadableFolders.size()));
    m_unreadable->setToolTip(viewmodel::texts::unreadableFolderList(info.unreadableFolders));
    const bool hasFolders = !info.foundFolders.empty();
    m_reclaimableRow->setVisible(hasFolders);
    m_reclaimableSize->setText(sizeText(m_viewModel.selectedSize()));
    m_emptyNotice->setVisible(!hasFolders);
}

void MainWindowContent::refreshActionBar()
{
    if (QAbstractButton* current =
            m_presets->button(static_cast<int>(m_viewModel.selectedPreset()))) {
        const QSignalBlocker block(m_presets);
        current->setChecked(true);
    }
    m_deleteButton->setText(
        VELLICO_TEXT_FILL("Supprimer la sélection (%1)", sizeText(m_viewModel.selectedSize())));
    m_deleteButton->setAccessibleName(m_deleteButton->text());
    m_deleteButton->setEnabled(!m_viewModel.selectedFolders().empty() &&
                               !m_viewModel.isFCPLocked());
    m_lockedLine->setVisible(m_viewModel.isFCPLocked());
}

void MainWindowContent::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        modifiers == Qt::NoModifier) {
        auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        if (button && isAncestorOf(button) && button->isEnabled() && button->isVisible()) {
            button->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void MainWindowContent::deleteClicked()
{
    if (QSettings().value(QLatin1String(DeleteWarningSheet::skipKey), false).toBool()) {
        m_viewModel.startDeletion();
    } else {
        m_viewModel.presentDeleteWarning();
    }
}

void MainWindowContent::showOpenPanel()
{
    if (m_openPanel || m_viewModel.appState() == AppState::deleting) {
        return;
    }
    auto* panel = new LibraryOpenPanel(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &LibraryOpenPanel::librarySelected, &m_viewModel, &VM::handleDrop,
            Qt::QueuedConnection);
    connect(panel, &LibraryOpenPanel::librariesSelected, this, &MainWindowContent::librariesOpened,
            Qt::QueuedConnection);
    m_openPanel = panel;
    panel->open();
}

void MainWindowContent::updateFilesScanned()
{
    if (m_filesScanned == nullptr) {
        return;
    }
    const qint64 files = m_viewModel.filesScanned();
    m_filesScanned->setVisible(files > 0);
    m_filesScanned->setText(VELLICO_TEXT_COUNT("%1 fichiers analysés", files));
}

} // namespace vellico::ui
