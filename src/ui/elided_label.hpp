#pragma once

#include <QLabel>

namespace vellico::ui {

// A one-line label that shortens its text in the middle ("Mon film…2024")
// to fit its width, and shows the whole text as its tool tip when shortened.
// With `setAlwaysShowsFullText(true)` the whole text stays the tool tip
// even when it fits.
//
// It asks for its full width but gives way down to nothing, so a row can
// keep its other items (a size, a badge) whole while this one shortens.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }
    void setAlwaysShowsFullText(bool always);
    // True when the text shown is shorter than the full text.
    bool isElided() const { return text() != m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    int lineHeight() const;

    QString m_fullText;
    bool m_alwaysShowsFullText = false;
};

} // namespace vellico::ui
