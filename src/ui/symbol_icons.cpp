#include "ui/symbol_icons.hpp"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

static void initIconResources()
{
    // The resource lives in a static library: register it explicitly.
    Q_INIT_RESOURCE(icons);
}

namespace vellico::ui {

namespace {

QByteArray svgSource(const QString& name)
{
    static const bool initialised = [] {
        initIconResources();
        return true;
    }();
    (void)initialised;
    QFile file(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QByteArray hex(const QColor& color)
{
    return color.name(QColor::HexRgb).toLatin1();
}

} // namespace

bool hasSymbol(const QString& name)
{
    return !svgSource(name).isEmpty();
}

QPixmap symbolPixmap(const QString& name, int height, const QColor& first, const QColor& second,
                     qreal devicePixelRatio)
{
    QByteArray source = svgSource(name);
    const QColor secondColor = second.isValid() ? second : first;
    // Opacity is applied when painting, per colour layer; the file gets the
    // opaque colour. Both colours in one pass only when they share an alpha.
    source.replace("#000001", hex(first));
    source.replace("#000002", hex(secondColor));
    QSvgRenderer renderer(source);
    QSizeF natural = renderer.isValid() ? renderer.defaultSize() : QSizeF(height, height);
    if (natural.isEmpty()) {
        natural = QSizeF(height, height);
    }
    const int width = qRound(height * natural.width() / natural.height());
    QPixmap pixmap(QSize(width, height) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(first.alphaF());
        renderer.render(&painter, QRectF(0, 0, width, height));
    }
    return pixmap;
}

SymbolLabel::SymbolLabel(const QString& name, int height, const QColor& first, QWidget* parent,
                         int frameWidth)
    : QLabel(parent), m_height(height)
{
    setAlignment(Qt::AlignCenter);
    setMinimumHeight(height); // a tight card layout must not clip the symbol
    if (frameWidth > 0) {
        setFixedWidth(frameWidth);
    }
    setSymbol(name, first);
}

void SymbolLabel::setSymbol(const QString& name, const QColor& first, const QColor& second)
{
    m_name = name;
    setPixmap(symbolPixmap(name, m_height, first, second, devicePixelRatioF()));
}

} // namespace vellico::ui
