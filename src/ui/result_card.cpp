#include "ui/content_view.hpp"

#include "ui/content_parts.hpp"
#include "ui/spinner.hpp"
#include "ui/symbol_icons.hpp"
#include "ui/ui_text.hpp"
#include "ui/wrapping_label.hpp"
#include "viewmodel/main_view_model.hpp"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

// The card that takes the panel's place while a deletion runs and once it
// is done: its progress, then its outcome.
namespace vellico::ui {

using content::card;
using content::makeLabel;
using content::sizeText;
using viewmodel::AppState;

namespace {

// A line that takes the card's whole width and wraps only when it must.
QLabel* centredText(const QString& text, TextStyle style, const QColor& color, QWidget* parent,
                    std::optional<QFont::Weight> weight = std::nullopt)
{
    auto* label = new WrappingLabel(text, parent);
    styleLabel(label, style, color, weight);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

} // namespace

void MainWindowContent::fillDeletingCard(QFrame* box, QVBoxLayout* column)
{
    column->addWidget(new Spinner(26, box), 0, Qt::AlignHCenter);
    column->addWidget(centredText(VELLICO_TEXT("Suppression en cours\u2026"), TextStyle::headline,
                                  colors::primary(), box));
    auto* bar = new QProgressBar(box);
    bar->setObjectName(QStringLiteral("deletionProgress"));
    bar->setTextVisible(false);
    bar->setFixedWidth(260);
    bar->setFixedHeight(6);
    // A visible track under the accent bar: the card's own colour would
    // hide Fusion's groove.
    bar->setStyleSheet(QStringLiteral("QProgressBar { background: %1; border: none; "
                                      "border-radius: 3px; } QProgressBar::chunk { "
                                      "background: %2; border-radius: 3px; }")
                           .arg(css(withOpacity(Qt::white, 0.14)), css(colors::accent())));
    bar->setAccessibleName(VELLICO_TEXT("Progression de la suppression"));
    column->addWidget(bar, 0, Qt::AlignHCenter);
    QLabel* count = centredText(QString(), TextStyle::caption, colors::secondary(), box);
    column->addWidget(count);
    m_deletionBar = bar;
    m_deletionCount = count;
    updateDeletionProgress();
    column->addWidget(centredText(VELLICO_TEXT("Veuillez ne pas fermer l'application."),
                                  TextStyle::caption, colors::orange(), box));
}

void MainWindowContent::fillResultCard(QFrame* box, QVBoxLayout* column)
{
    const auto& errors = m_viewModel.deletionErrors();
    const bool failed = !errors.isEmpty();
    column->addWidget(new SymbolLabel(failed ? QStringLiteral("exclamationmark.circle.fill")
                                             : QStringLiteral("checkmark.circle.fill"),
                                      50, failed ? colors::orange() : colors::green(), box),
                      0, Qt::AlignHCenter);
    column->addWidget(
        centredText(failed ? VELLICO_TEXT("Terminé avec des erreurs") : VELLICO_TEXT("Terminé !"),
                    TextStyle::title2, colors::primary(), box, QFont::Bold));
    if (m_viewModel.freedSpace() >= 1) {
        column->addWidget(
            centredText(VELLICO_TEXT_FILL("%1 libérés", sizeText(m_viewModel.freedSpace())),
                        TextStyle::title3, colors::green(), box, QFont::DemiBold));
    }
    if (failed) {
        auto* failures = new QFrame(box);
        failures->setObjectName(QStringLiteral("failures"));
        failures->setStyleSheet(QStringLiteral("#failures { background: %1; border-radius: 8px; }")
                                    .arg(css(withOpacity(colors::red(), 0.10))));
        auto* list = new QVBoxLayout(failures);
        list->setContentsMargins(10, 10, 10, 10);
        list->setSpacing(6);
        list->addWidget(makeLabel(VELLICO_TEXT("Échecs de suppression :"), TextStyle::caption,
                                  colors::redText(), failures));
        for (const viewmodel::DeletionErrorEntry& entry : errors) {
            auto* row = new QHBoxLayout;
            row->setSpacing(6);
            row->addWidget(
                new SymbolLabel(QStringLiteral("xmark.circle.fill"), 10, colors::red(), failures),
                0, Qt::AlignTop);
            auto* texts = new QVBoxLayout;
            texts->setSpacing(1);
            QLabel* name = makeLabel(entry.name, TextStyle::caption, colors::primary(), failures,
                                     QFont::Medium);
            QLabel* error =
                makeLabel(entry.error, TextStyle::caption2, colors::secondary(), failures);
            name->setWordWrap(true);
            error->setWordWrap(true);
            texts->addWidget(name);
            texts->addWidget(error);
            row->addLayout(texts, 1);
            list->addLayout(row);
        }
        column->addWidget(failures);
    } else {
        column->addWidget(
            centredText(VELLICO_TEXT("Les fichiers générés par FCP ont été supprimés."),
                        TextStyle::subheadline, colors::secondary(), box));
    }
}

void MainWindowContent::refreshPanel()
{
    // The card is rebuilt whole: it changes only twice per deletion.
    const bool cardHadFocus = m_resultCard && m_resultCard->hasFocus();
    if (m_panelCard) {
        m_panelCard->deleteLater();
    }
    auto* holder = new QWidget;
    auto* outer = new QVBoxLayout(holder);
    outer->setContentsMargins(28, 12, 28, 12);
    outer->setSpacing(14);
    QFrame* box =
        card(holder, 12,
             m_viewModel.appState() == AppState::done ? std::optional(AccessibleKind::alert)
                                                      : std::nullopt);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    if (m_viewModel.appState() == AppState::deleting) {
        fillDeletingCard(box, column);
    } else {
        fillResultCard(box, column);
    }
    outer->addWidget(box);
    outer->addStretch(1);
    m_panelCard = holder;
    m_panelScroll->setWidget(holder);
    const bool doneNow = m_viewModel.appState() == AppState::done;
    const bool doneJustNow = doneNow && !m_doneShown;
    m_doneShown = doneNow;
    if (doneNow) {
        // The result is read out: the card is an alert named after its
        // title, and takes the focus (the button that started the deletion
        // is gone), so the keyboard goes on from here.
        QStringList lines;
        for (auto* label : box->findChildren<QLabel*>()) {
            if (!label->text().isEmpty() && label->pixmap().isNull()) {
                lines << label->text();
            }
        }
        box->setAccessibleName(lines.value(0));
        box->setAccessibleDescription(lines.mid(1).join(QLatin1Char('\n')));
        box->setFocusPolicy(Qt::StrongFocus);
        m_resultCard = box;
        // Said once, when the deletion ends; a later rebuild of the card
        // keeps the focus on it.
        if (doneJustNow || cardHadFocus) {
            box->setFocus(Qt::OtherFocusReason);
        }
        if (doneJustNow) {
            announce(box);
        }
    }
}

void MainWindowContent::updateDeletionProgress()
{
    const int total = m_viewModel.deletionFoldersTotal();
    const int done = m_viewModel.deletionFoldersDone();
    if (m_deletionBar) {
        m_deletionBar->setRange(0, std::max(total, 1));
        m_deletionBar->setValue(std::min(done, std::max(total, 1)));
    }
    if (m_deletionCount) {
        m_deletionCount->setText(total > 0 ? QStringLiteral("%1 / %2").arg(done).arg(total)
                                           : QString());
    }
}

} // namespace vellico::ui
