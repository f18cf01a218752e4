#include "ui/BarAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include <algorithm>

namespace {

// The bar as the accessibility bus sees it: a progress bar with a value from 0 to 100.
class BarInterface : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit BarInterface(CBarAccessible* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::ValueInterface)
      return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }
  QVariant currentValue() const override {
    return std::max(0, static_cast<CBarAccessible*>(widget())->Percent());
  }
  void setCurrentValue(const QVariant&) override {}  // the phone sets the level, not the user
  QVariant maximumValue() const override { return 100; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface* BarFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("CBarAccessible") && object && object->isWidgetType())
    return new BarInterface(static_cast<CBarAccessible*>(object));
  return nullptr;
}

}  // namespace

CBarAccessible::CBarAccessible(QWidget* parent, const QString& objectName) : QWidget(parent) {
  static const bool installed = [] {
    QAccessible::installFactory(BarFactory);
    return true;
  }();
  (void)installed;
  setObjectName(objectName);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  hide();
}

void CBarAccessible::Set(const QRect& frame, const QString& label, int percent) {
  percent = std::clamp(percent, 0, 100);
  if (frame.isEmpty()) {
    hide();
    return;
  }
  if (geometry() != frame)
    setGeometry(frame);
  QString name = label + QString::number(percent) + " %";
  if (accessibleName() != name)
    setAccessibleName(name);  // sends the name-change event
  if (percent != percent_) {
    percent_ = percent;
    QAccessibleValueChangeEvent event(this, percent);
    QAccessible::updateAccessibility(&event);
  }
  if (isHidden())
    show();
}
