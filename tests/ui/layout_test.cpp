// The window under long names: the folder list keeps every size whole and
// shortens the names, the sheets wrap a name without blanks inside their
// width and give their buttons their full height, the library summary keeps
// its hover help, its badge and its status line's fade, and the open panel
// lists and hands on aliases.

#include "sample_library.hpp"
#include "test_window.hpp"
#include "ui/alias_sheet.hpp"
#include "ui/backup_sheet.hpp"
#include "ui/content_view.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/elided_label.hpp"
#include "ui/fcp_locked_sheet.hpp"
#include "ui/folder_list_view.hpp"
#include "ui/icloud_sheet.hpp"
#include "ui/library_open_panel.hpp"
#include "ui/missing_cache_sheet.hpp"
#include "ui/wrapping_label.hpp"
#include "ui_test_support.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/harness.hpp"

#include <QAbstractItemView>
#include <QDir>
#include <QGraphicsOpacityEffect>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <fstream>
#include <semaphore>

using namespace vellico;
using namespace vellico::test;
using ui::MainWindowContent;

namespace {

using Window = TestWindow;

// A name of exactly `length` characters, with blanks like an event's name.
std::string eventName(int length)
{
    QString name = QString("Mariage Dupont - cérémonie et vin d'honneur - parc du château - ")
                       .repeated(3)
                       .left(length);
    if (name.endsWith(' ')) {
        name[length - 1] = 'x';
    }
    return name.toStdString();
}

// The rectangle of `child` in `ancestor`'s coordinates.
QRect rectIn(const QWidget* child, const QWidget* ancestor)
{
    return QRect(child->mapTo(ancestor, QPoint(0, 0)), child->size());
}

QString describe(const QWidget* w)
{
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(w->metaObject()->className()),
             w->property("text").toString().left(30));
}

// Every label and button of a sheet lies inside the sheet, at its full
// height, without overlapping the next one.
void checkSheetFits(ui::SheetDialog* sheet)
{
    QList<QWidget*> items;
    for (QWidget* child : sheet->findChildren<QWidget*>()) {
        if (child->isVisible() &&
            (qobject_cast<QLabel*>(child) || qobject_cast<QPushButton*>(child))) {
            items.append(child);
        }
    }
    QVERIFY(items.size() >= 3);
    std::sort(items.begin(), items.end(), [sheet](QWidget* a, QWidget* b) {
        return rectIn(a, sheet).top() < rectIn(b, sheet).top();
    });
    const QRect inside = sheet->rect();
    for (int i = 0; i < items.size(); ++i) {
        QWidget* item = items[i];
        const QRect r = rectIn(item, sheet);
        QVERIFY2(inside.contains(r), qPrintable(describe(item)));
        if (auto* button = qobject_cast<QPushButton*>(item)) {
            QVERIFY2(button->height() >= button->sizeHint().height(), qPrintable(describe(item)));
        }
        if (item->hasHeightForWidth()) {
            QVERIFY2(item->height() >= item->heightForWidth(item->width()),
                     qPrintable(describe(item)));
        }
        if (i + 1 < items.size() && !items[i + 1]->isAncestorOf(item)) {
            const QRect next = rectIn(items[i + 1], sheet);
            // Side by side (a row of buttons) or below: never on top.
            QVERIFY2(!r.intersects(next),
                     qPrintable(describe(item) + " / " + describe(items[i + 1])));
        }
    }
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

private slots:
    void init() { useTestSettings(); }

    void longEventNamesShortenAndSizesStayWhole();
    void sheetsWrapLongNamesAndKeepFullHeightButtons_data();
    void sheetsWrapLongNamesAndKeepFullHeightButtons();
    void libraryNameKeepsHoverHelpAndBadgeFollowsIt();
    void analysisStatusFadesIn();
    void openPanelListsAliasesAndHidesOtherFiles();
    void openPanelHandsOnALinkOrAnAliasFile_data();
    void openPanelHandsOnALinkOrAnAliasFile();
    void introductionScrollsUnderALongBanner();
    void cacheLineSaysWhatItIsAndTheSummaryFits();
    void noScrollBarWhenNothingScrolls();
};

void LayoutTest::longEventNamesShortenAndSizesStayWhole()
{
    Window w(Window::Opening::later);
    tools::LibraryBuilder builder(w.harness.dir / "Noms longs.fcpbundle");
    const std::vector<int> lengths{45, 62, 85};
    for (const int length : lengths) {
        builder.event(eventName(length), {"Render Files", "Analysis Files"}, 3'000'000);
    }
    w.open();
    w.vm->handleDrop(urlOf(builder.path()));
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::ready; }));
    ui::FolderListView* list = w.view->folderList();
    QWidget* viewport = list->parentWidget();
    for (const int length : lengths) {
        const QString id = QString::fromStdString(eventName(length));
        QWidget* header = list->groupHeader(id);
        QVERIFY2(header, qPrintable(id));
        list->toggleGroup(id);
        QLayout* row = header->layout();
        auto* size = qobject_cast<QLabel*>(row->itemAt(row->count() - 1)->widget());
        QVERIFY(size);
        std::int64_t total = 0;
        for (const model::FoundFolder& folder : w.vm->bundleInfo()->foundFolders) {
            total += folder.parentName == id.toStdString() ? folder.size : 0;
        }
        QVERIFY(total > 0);
        QCOMPARE(size->text(), viewmodel::byteCountFormatter().string(total));
        // The size is drawn whole and inside the visible part of the list.
        QVERIFY2(size->width() >= size->fontMetrics().horizontalAdvance(size->text()),
                 qPrintable(QString::number(length)));
        // (The list scrolls vertically, never sideways.)
        QVERIFY(rectIn(size, viewport).left() >= 0);
        QVERIFY(rectIn(size, viewport).right() <= viewport->rect().right());
        // The name gives way, with the whole name as hover help when shortened.
        auto* name = header->findChild<ui::ElidedLabel*>();
        QVERIFY(name);
        QCOMPARE(name->fullText(), id);
        QVERIFY(rectIn(name, header).right() < rectIn(size, header).left());
        if (name->isElided()) {
            QCOMPARE(name->toolTip(), id);
        }
        if (length == 85) {
            QVERIFY(name->isElided());
        }
    }
    QTest::qWait(250); // the rows have slid open
    for (const int length : lengths) {
        const QString id = QString::fromStdString(eventName(length));
        for (QWidget* rowWidget : list->groupHeader(id)->parentWidget()->findChildren<QWidget*>()) {
            if (!rowWidget->isVisible() || rowWidget->layout() == nullptr ||
                rowWidget == list->groupHeader(id)) {
                continue;
            }
            QLayout* row = rowWidget->layout();
            auto* size = qobject_cast<QLabel*>(row->itemAt(row->count() - 1)->widget());
            if (!size) {
                continue;
            }
            QVERIFY(size->width() >= size->fontMetrics().horizontalAdvance(size->text()));
            QVERIFY(rectIn(size, viewport).right() <= viewport->rect().right());
        }
    }
}

void LayoutTest::sheetsWrapLongNamesAndKeepFullHeightButtons_data()
{
    QTest::addColumn<QString>("sheet");
    for (const char* name : {"warning", "alias", "backup", "iCloud", "fcpLocked", "missingCache"}) {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

void LayoutTest::sheetsWrapLongNamesAndKeepFullHeightButtons()
{
    QFETCH(QString, sheet);
    // 120 characters without a blank, as a library named by a camera or a
    // script can be.
    const QString unbroken = QString("Tournage_2024-03-15_Mariage_Dupont_").repeated(4).left(120);
    QCOMPARE(unbroken.size(), 120);
    std::unique_ptr<ui::SheetDialog> dialog;
    int width = 0;
    if (sheet == "warning") {
        dialog = std::make_unique<ui::DeleteWarningSheet>(1234567890, unbroken,
                                                          model::EditingPreset::done);
        width = 380;
    } else if (sheet == "alias") {
        dialog = std::make_unique<ui::AliasSheet>(unbroken);
        width = 380;
    } else if (sheet == "backup") {
        dialog = std::make_unique<ui::BackupSheet>(unbroken, unbroken);
        width = 420;
    } else if (sheet == "iCloud") {
        dialog = std::make_unique<ui::ICloudSheet>(unbroken, false);
        width = 380;
    } else if (sheet == "fcpLocked") {
        dialog = std::make_unique<ui::FCPLockedSheet>(unbroken);
        width = 440;
    } else {
        dialog = std::make_unique<ui::MissingCacheSheet>("/media/" + unbroken + "/" + unbroken);
        width = 420;
    }
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QTest::qWait(20);
    QCOMPARE(dialog->width(), width); // does not grow sideways
    checkSheetFits(dialog.get());
    // The name wraps inside the word: some message takes several lines.
    int mostLines = 0;
    for (auto* label : dialog->findChildren<ui::WrappingLabel*>()) {
        if (label->text().contains(unbroken)) {
            mostLines = std::max(mostLines, label->lineCount());
        }
    }
    if (sheet != "missingCache") {
        QVERIFY2(mostLines >= 3, qPrintable(QString::number(mostLines)));
    }
}

void LayoutTest::libraryNameKeepsHoverHelpAndBadgeFollowsIt()
{
    Window w;
    const fs::path library = w.harness.library("Film");
    const fs::path link = w.harness.dir / "Raccourci vers Film";
    fs::create_directory_symlink(library, link);
    QVERIFY(dropAndWaitForSheet(*w.vm, link, ActiveSheet::alias));
    w.vm->handleAliasResponse(viewmodel::AliasResponse::analyze);
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::ready; }));
    QTest::qWait(20);
    ui::ElidedLabel* name = w.view->libraryName();
    QVERIFY(!name->isElided());
    QCOMPARE(name->toolTip(), QString("Film")); // hover help even when whole
    QLabel* badge = w.view->aliasBadge();
    QVERIFY(badge->isVisible());
    QWidget* summary = badge->parentWidget();
    const int gap = rectIn(badge, summary).left() - rectIn(name, summary).right();
    QVERIFY2(gap > 0 && gap <= 12, qPrintable(QString::number(gap)));
    // The size stays at the right end, apart from the badge.
    QLabel* size = w.view->librarySize();
    QVERIFY(rectIn(size, summary).left() - rectIn(badge, summary).right() > 100);
    QCOMPARE(rectIn(size, summary).right(), summary->rect().right());
}

void LayoutTest::analysisStatusFadesIn()
{
    Window w(Window::Opening::later);
    const fs::path library = w.harness.library("Film");
    auto gate = std::make_shared<std::binary_semaphore>(0);
    auto base = w.harness.analyzer;
    w.harness.analyzer = [=](platform::UniqueFd fd, const fs::path& bundle, bool alias,
                             const analysis::ProgressSink& progress,
                             const platform::WalkControl& walk) {
        progress(analysis::StatusText{"Analyse de %1\u2026", {"Film"}});
        gate->acquire();
        return base(std::move(fd), bundle, alias, progress, walk);
    };
    w.open();
    QLabel* status = w.view->analysisStatusLine();
    QVERIFY(!status->isVisibleTo(status->parentWidget()));
    // Seen right after the view handled the change: shown, still transparent.
    std::optional<qreal> opacityAtShow;
    connect(w.vm.get(), &MainViewModel::analysisStatusChanged, status, [&] {
        if (w.vm->analysisStatus() && !opacityAtShow) {
            auto* effect = qobject_cast<QGraphicsOpacityEffect*>(status->graphicsEffect());
            opacityAtShow = effect ? effect->opacity() : 1.0;
            QVERIFY(status->isVisibleTo(status->parentWidget()));
        }
    });
    w.vm->handleDrop(urlOf(library));
    QVERIFY(waitUntil([&] { return opacityAtShow.has_value(); }));
    QCOMPARE(*opacityAtShow, 0.0);
    QVERIFY(status->isVisible());
    QVERIFY(!status->text().isEmpty());
    QTRY_COMPARE(qobject_cast<QGraphicsOpacityEffect*>(status->graphicsEffect())->opacity(), 1.0);
    gate->release();
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::ready; }));
    QTRY_VERIFY(!status->isVisibleTo(status->parentWidget()));
}

namespace {

// A folder as the panel sees it: a library, a link to it named like
// anything, an alias file copied from a Mac, a plain folder and a clip.
struct PanelFolder {
    Harness harness;
    fs::path dir = harness.dir.path();
    fs::path library = harness.library("Film");
    fs::path link = dir / "Film (lien)";
    fs::path aliasFile = dir / "Film.fcpbundle alias";

    PanelFolder()
    {
        fs::create_directory_symlink(library, link);
        std::ofstream(aliasFile, std::ios::binary) << std::string("book\0\0\0\0mark\0\0\0\0", 16);
        fs::create_directories(dir / "Projets");
        fs::create_directory_symlink(dir / "Projets", dir / "Projets (lien)");
        std::ofstream(dir / "clip.mov") << "not a library";
        QSettings().setValue("lastOpenPanelDirectory", QString::fromStdString(dir.string()));
    }
};

QStringList listedNames(ui::LibraryOpenPanel& panel)
{
    QStringList names;
    // The file list in one of its two forms (the other widget is hidden).
    for (const char* name : {"listView", "treeView"}) {
        auto* view = panel.findChild<QAbstractItemView*>(QLatin1String(name));
        if (!view || !view->isVisible() || view->model() == nullptr) {
            continue;
        }
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < view->model()->rowCount(root); ++row) {
            names << view->model()->index(row, 0, root).data().toString();
        }
        break;
    }
    names.sort();
    return names;
}

} // namespace

void LayoutTest::openPanelListsAliasesAndHidesOtherFiles()
{
    PanelFolder folder;
    ui::LibraryOpenPanel panel;
    panel.open();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QStringList expected{"Film (lien)", "Film.fcpbundle", "Film.fcpbundle alias", "Projets",
                               "Projets (lien)"};
    QTRY_COMPARE(listedNames(panel), expected);
}

void LayoutTest::openPanelHandsOnALinkOrAnAliasFile_data()
{
    QTest::addColumn<QString>("item");
    QTest::newRow("link to a library") << "Film (lien)";
    QTest::newRow("alias file") << "Film.fcpbundle alias";
}

void LayoutTest::openPanelHandsOnALinkOrAnAliasFile()
{
    QFETCH(QString, item);
    PanelFolder folder;
    ui::LibraryOpenPanel panel;
    QSignalSpy chosen(&panel, &ui::LibraryOpenPanel::librarySelected);
    panel.open();
    panel.selectFile(item);
    panel.accept();
    QCOMPARE(chosen.count(), 1);
    QVERIFY(!panel.isVisible());
    // The item itself, not what it leads to.
    const QFileInfo handed(panel.chosenUrl().toLocalFile());
    QCOMPARE(handed.fileName(), item);
    QCOMPARE(QDir(handed.path()).canonicalPath(),
             QDir(QString::fromStdString(folder.dir.string())).canonicalPath());

    // A link to a plain folder is walked into, like the folder.
    ui::LibraryOpenPanel again;
    QSignalSpy chosenAgain(&again, &ui::LibraryOpenPanel::librarySelected);
    again.open();
    again.selectFile("Projets (lien)");
    again.accept();
    QCOMPARE(chosenAgain.count(), 0);
    QVERIFY(again.isVisible());
    QVERIFY(again.directory().absolutePath().contains("Projets"));
    again.reject();
}

// Under a banner of several lines the introduction keeps every line whole
// and scrolls; squeezed, its wrapped lines were cut off.
void LayoutTest::introductionScrollsUnderALongBanner()
{
    Window w;
    QScrollArea* area = w.view->introductionArea();
    QVERIFY(area->isVisible());
    w.vm->setErrorMessage(
        QString(3, QLatin1Char('x'))
            .replace("x", QStringLiteral("Impossible de retrouver la bibliothèque vers laquelle "
                                         "pointe l’alias « Raccourci vers "
                                         "Mariage Dupont - cérémonie et vin d'honneur ». Elle a "
                                         "peut-être été déplacée, renommée, "
                                         "ou se trouve sur un disque qui n’est pas branché. "
                                         "Branchez le disque « Archives "
                                         "2024 - Mariages et cérémonies » puis glissez de nouveau "
                                         "le raccourci dans la fenêtre. ")));
    QTest::qWait(50);
    QVERIFY(area->isVisible());
    const QList<QLabel*> labels = area->widget()->findChildren<QLabel*>();
    QVERIFY(labels.size() >= 4);
    for (QLabel* label : labels) {
        if (!label->isVisibleTo(area->widget())) {
            continue;
        }
        QVERIFY2(label->height() >= label->sizeHint().height() ||
                     (label->hasHeightForWidth() &&
                      label->height() >= label->heightForWidth(label->width())),
                 qPrintable(describe(label)));
    }
    // The card is taller than the room left: the area scrolls to its end.
    QScrollBar* bar = area->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QVERIFY(bar->isVisible());
    QWidget* link = w.view->tutorialLink();
    QVERIFY(link);
    link->setFocus(Qt::TabFocusReason);
    area->ensureWidgetVisible(link);
    QVERIFY(area->viewport()->rect().contains(rectIn(link, area->viewport())));
}

// The summary of a library with an external cache: four rows (name, path,
// cache, reclaimable space), each whole and below the one before, and the
// cache path under a label that says what it is.
void LayoutTest::cacheLineSaysWhatItIsAndTheSummaryFits()
{
    Window w;
    const fs::path film = w.harness.library("Film");
    model::BundleInfo info;
    info.url = film;
    info.name = "Film";
    info.totalSize = 5'000'000'000;
    info.cacheURL = w.harness.dir / "Disque externe" / "Caches" / "Film.fcpcache";
    info.cacheTotalSize = 3'400'000'000;
    model::FoundFolder render;
    render.url = film / "Event A" / "Render Files";
    render.name = "Render Files";
    render.parentName = "Event A";
    render.size = 1'000'000;
    info.foundFolders.push_back(render);
    w.vm->applyAnalysisResult(info);
    w.vm->dismissSheet();
    QTest::qWait(50);
    QVERIFY(w.view->cacheLabel()->isVisible());
    QCOMPARE(w.view->cacheLabel()->text(), QStringLiteral("Cache externe :"));
    QVERIFY(w.view->cachePath()->fullText().endsWith("Film.fcpcache"));
    QCOMPARE(w.view->cachePath()->accessibleName(), QStringLiteral("Cache externe :"));

    QWidget* summary = w.view->libraryName()->parentWidget();
    QLabel* reclaimable = nullptr;
    for (QLabel* label : summary->findChildren<QLabel*>()) {
        if (!label->isVisible()) {
            continue;
        }
        reclaimable = label->text() == "Espace récupérable" ? label : reclaimable;
        const QRect r = rectIn(label, w.view.get());
        QVERIFY2(w.view->rect().contains(r), qPrintable(describe(label)));
        QVERIFY2(label->height() >= label->minimumSizeHint().height(), qPrintable(describe(label)));
    }
    QVERIFY(reclaimable);
    // Top to bottom: name, path, cache line, reclaimable space.
    const QList<QWidget*> rows{w.view->libraryName(), w.view->cachePath(), reclaimable};
    for (int i = 0; i + 1 < rows.size(); ++i) {
        QVERIFY2(rectIn(rows[i], summary).bottom() < rectIn(rows[i + 1], summary).top(),
                 qPrintable(describe(rows[i + 1])));
    }
}

// A list short enough to show whole has no scroll bar; the idle window
// without a banner neither.
void LayoutTest::noScrollBarWhenNothingScrolls()
{
    Window w;
    QTest::qWait(50);
    QVERIFY(!w.view->introductionArea()->verticalScrollBar()->isVisible());
    QVERIFY(w.analyse(w.harness.library("Film")));
    QTest::qWait(50);
    QScrollArea* list = w.view->folderListArea();
    QVERIFY(list->isVisible());
    QVERIFY(!list->verticalScrollBar()->isVisible());
    // Opening a group makes the list longer than its room: the bar comes.
    for (QWidget* header : w.view->folderList()->focusChain()) {
        if (w.view->folderList()->expandedGroups().size() < 8) {
            QTest::keyClick(header, Qt::Key_Right);
        }
    }
    QTest::qWait(300);
    QCOMPARE(list->verticalScrollBar()->isVisible(), list->verticalScrollBar()->maximum() > 12);
}

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
