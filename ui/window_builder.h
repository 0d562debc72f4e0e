#pragma once

#include <QHash>
#include <QLabel>
#include <QWidget>

#include "ui/layouts.h"

namespace tarvex {

// A label that reports clicks (the selection labels).
class ClickableLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// A rectangle filled with one colour (the malfunction lamp).
class FilledSquare : public QWidget {
  Q_OBJECT
 public:
  explicit FilledSquare(QWidget* parent = nullptr) : QWidget(parent) {}
  void setFillColour(const QColor& colour);
  QColor fillColour() const { return fill_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor fill_{Qt::gray};
};

QColor toQColor(Rgb rgb);

// The controls of one window by name.
class ControlMap {
 public:
  void insert(const QString& name, QWidget* widget) { controls_.insert(name, widget); }
  QWidget* widget(const QString& name) const { return controls_.value(name); }
  template <typename T>
  T* get(const QString& name) const {
    return qobject_cast<T*>(controls_.value(name));
  }
  const QHash<QString, QWidget*>& all() const { return controls_; }

 private:
  QHash<QString, QWidget*> controls_;
};

// Builds a window from its layout: caption, client size, background, every
// control at its place with its text, tool tip, font and state, and the tab
// order. Controls are created in table order, so a later one lies on top.
ControlMap buildWindow(QWidget& window, const WindowSpec& layout);

// Gives the keyboard focus to the layout's first focusable control.
void focusFirstControl(const ControlMap& controls, const WindowSpec& layout);

}  // namespace tarvex
