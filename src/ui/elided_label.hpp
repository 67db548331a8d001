#pragma once

#include <QLabel>

namespace vellico::ui {

// A one-line label that shortens its text in the middle ("Mon film…2024")
// to fit its width, and shows the whole text as its tool tip when shortened.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString m_fullText;
};

} // namespace vellico::ui
