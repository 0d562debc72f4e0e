#include "gauges/gauges_window.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "gauges/needle.h"

namespace tarvex {

QByteArray dialBitmap(Dial dial) {
  QFile file(dial == Dial::kSpeedometer ? QStringLiteral(":/dials/speedometer.bmp")
                                        : QStringLiteral(":/dials/tachometer.bmp"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

namespace {

NeedleLine layoutNeedle(std::string_view name) {
  const LineSpec* line = gaugesLayout().line(name);
  if (!line) return {};
  return {static_cast<float>(line->x1), static_cast<float>(line->y1), static_cast<float>(line->x2),
          static_cast<float>(line->y2)};
}

QPen layoutPen(std::string_view name) {
  const LineSpec* line = gaugesLayout().line(name);
  if (!line) return QPen(Qt::red, 2);
  return QPen(toQColor(line->colour), line->width, Qt::SolidLine, Qt::RoundCap);
}

void showDial(const ControlMap& controls, const QString& name, Dial dial) {
  auto* picture = controls.get<QLabel>(name);
  if (!picture) return;
  QPixmap pixmap;
  pixmap.loadFromData(dialBitmap(dial), "BMP");
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picture->setPixmap(pixmap);
}

}  // namespace

// The needles lie above the pictures: child widgets paint over their parent,
// so the needles get a transparent child of their own, raised above the
// pictures and blind to the mouse.
class Gauges::NeedleOverlay : public QWidget {
 public:
  explicit NeedleOverlay(Gauges& gauges)
      : QWidget(&gauges),
        gauges_(gauges),
        speedoPen_(layoutPen("SpeedoNeedle")),
        tachPen_(layoutPen("TachNeedle")) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Lowest first, as the layout stacks them.
    drawNeedle(painter, gauges_.speedo_, speedoPen_);
    drawNeedle(painter, gauges_.tach_, tachPen_);
  }

 private:
  static void drawNeedle(QPainter& painter, const NeedleLine& needle, const QPen& pen) {
    painter.setPen(pen);
    const double perPixel = kTwipsPerPixel;
    painter.drawLine(QPointF(needle.x1 / perPixel, needle.y1 / perPixel),
                     QPointF(needle.x2 / perPixel, needle.y2 / perPixel));
  }

  Gauges& gauges_;
  QPen speedoPen_;
  QPen tachPen_;
};

Gauges::Gauges(QWidget* parent)
    : QWidget(parent), speedo_(layoutNeedle("SpeedoNeedle")), tach_(layoutNeedle("TachNeedle")) {
  controls_ = buildWindow(*this, gaugesLayout());
  showDial(controls_, QStringLiteral("Image1"), Dial::kSpeedometer);
  showDial(controls_, QStringLiteral("Image2"), Dial::kTachometer);
  overlay_ = new NeedleOverlay(*this);
  overlay_->setGeometry(0, 0, twipsToPixels(gaugesLayout().width), twipsToPixels(gaugesLayout().height));
  overlay_->raise();
}

Gauges::~Gauges() = default;

void Gauges::UpdateSpeed(std::int16_t speed) {
  const NeedleTip tip = needleTip(kSpeedoGeometry, speed);
  speedo_.x2 = tip.x;
  speedo_.y2 = tip.y;
  overlay_->update();
}

void Gauges::UpdateTach(std::int16_t rpm) {
  const NeedleTip tip = needleTip(kTachGeometry, rpm);
  tach_.x2 = tip.x;
  tach_.y2 = tip.y;
  overlay_->update();
}

}  // namespace tarvex
