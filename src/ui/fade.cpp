#include "ui/fade.hpp"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

namespace vellico::ui {

namespace {

constexpr const char* animationProperty = "vellicoFade";
constexpr const char* targetProperty = "vellicoFadeTarget";

} // namespace

void setVisibleWithFade(QWidget* widget, bool visible, int durationMs)
{
    auto* running =
        qobject_cast<QPropertyAnimation*>(widget->property(animationProperty).value<QObject*>());
    const bool fading = running != nullptr;
    if (!fading && widget->isVisibleTo(widget->parentWidget()) == visible) {
        return;
    }
    if (fading && widget->property(targetProperty).toBool() == visible) {
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        effect->setOpacity(visible ? 0.0 : 1.0);
        widget->setGraphicsEffect(effect);
    }
    if (running) {
        running->stop();
        running->deleteLater();
    } else if (visible) {
        effect->setOpacity(0.0);
    }
    if (visible) {
        widget->show();
    }
    auto* animation = new QPropertyAnimation(effect, "opacity", widget);
    animation->setDuration(durationMs);
    animation->setStartValue(effect->opacity());
    animation->setEndValue(visible ? 1.0 : 0.0);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    widget->setProperty(animationProperty, QVariant::fromValue<QObject*>(animation));
    widget->setProperty(targetProperty, visible);
    QObject::connect(animation, &QAbstractAnimation::finished, widget,
                     [widget, visible, animation = QPointer(animation)] {
                         widget->setProperty(animationProperty, QVariant());
                         if (!visible) {
                             widget->hide();
                         }
                         if (animation) {
                             animation->deleteLater();
                         }
                     });
    animation->start();
}

} // namespace vellico::ui
