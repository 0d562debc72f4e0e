#include "ui/window_builder.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "core/text.h"

namespace tarvex {

namespace {
// The family a layout names, as installed; should that font be missing, the
// dialog font's substitute still fits where fontconfig's own guess may not.
QStringList fontFamilies(std::string_view requested) {
  return {toQString(installedFontFamily(requested)), toQString(installedFontFamily(kDialogFontFamily))};
}
}  // namespace

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QLabel::mouseReleaseEvent(event);
}

void FilledSquare::setFillColour(const QColor& colour) {
  if (fill_ == colour) return;
  fill_ = colour;
  update();
}

void FilledSquare::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), fill_);
}

QColor toQColor(Rgb rgb) {
  return QColor(rgb.red, rgb.green, rgb.blue);
}

static QWidget* createControl(const ControlSpec& control, QWidget& parent) {
  const QString text = toQString(control.text);
  switch (control.kind) {
    case ControlKind::kLabel: {
      auto* label = new ClickableLabel(text, &parent);
      if (control.style.transparent) {
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->setAutoFillBackground(false);
      }
      return label;
    }
    case ControlKind::kTextBox: {
      auto* edit = new QLineEdit(text, &parent);
      edit->setCursorPosition(0);  // a box shows the start of its text
      return edit;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(text, &parent);
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::kCheckBox:
      return new QCheckBox(text, &parent);
    case ControlKind::kFilledSquare: {
      auto* square = new FilledSquare(&parent);
      if (control.style.fill) square->setFillColour(toQColor(*control.style.fill));
      return square;
    }
    case ControlKind::kPicture:
      return new QLabel(&parent);
  }
  return nullptr;
}

ControlMap buildWindow(QWidget& window, const WindowSpec& layout) {
  window.setWindowTitle(toQString(layout.caption));
  // The layouts were measured for a small dialog font; the toolkit's larger
  // default would cut captions off.
  QFont font = window.font();
  font.setFamilies(fontFamilies(kDialogFontFamily));
  font.setPointSizeF(installedFontPoints(kDialogFontFamily, kDialogFontPoints));
  window.setFont(font);
  window.resize(twipsToPixels(layout.width), twipsToPixels(layout.height));
  if (layout.placement == Placement::kTopLeft) window.move(0, 0);
  if (layout.background) {
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, toQColor(*layout.background));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
  }

  ControlMap controls;
  std::vector<std::pair<int, QWidget*>> tabOrder;
  for (const ControlSpec& c : layout.controls) {
    QWidget* w = createControl(c, window);
    w->setObjectName(toQString(c.name));
    w->setGeometry(twipsToPixels(c.left), twipsToPixels(c.top), twipsToPixels(c.width),
                   twipsToPixels(c.height));
    if (!c.toolTip.empty()) w->setToolTip(toQString(c.toolTip));
    if (!c.style.fontFamily.empty()) {
      QFont styled;
      styled.setFamilies(fontFamilies(c.style.fontFamily));
      styled.setPointSizeF(installedFontPoints(c.style.fontFamily, c.style.fontPoints));
      styled.setBold(c.style.bold);
      w->setFont(styled);
    }
    w->setEnabled(c.style.enabled);
    if (!c.style.visible) w->setHidden(true);
    if (c.tab >= 0 && w->focusPolicy() != Qt::NoFocus) tabOrder.emplace_back(c.tab, w);
    controls.insert(w->objectName(), w);
  }
  std::stable_sort(tabOrder.begin(), tabOrder.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < tabOrder.size(); ++i)
    QWidget::setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
  return controls;
}

void focusFirstControl(const ControlMap& controls, const WindowSpec& layout) {
  if (layout.firstFocus.empty()) return;
  if (QWidget* w = controls.widget(toQString(layout.firstFocus))) w->setFocus(Qt::OtherFocusReason);
}

}  // namespace tarvex
