#include "report/report_file.h"

#include <QAbstractTextDocumentLayout>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace tarvex {

bool isPdfPath(const QString& path) {
  return path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
}

Status writeReport(const QString& html, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return Failure{Failure::Kind::kCreate, path, file.errorString(), {}};
  if (isPdfPath(path)) {
    QPdfWriter pdf(&file);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                  QPageLayout::Millimeter));
    pdf.setResolution(300);
    pdf.setCreator(QStringLiteral("Tarvex"));
    // Laid out on the writer itself, so that the tables' widths and the
    // fonts are of the same page; a line at the foot of each page is kept
    // free for its number.
    QTextDocument document;
    document.documentLayout()->setPaintDevice(&pdf);
    document.setHtml(html);
    pdf.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
    const QRectF area = pdf.pageLayout().paintRectPixels(pdf.resolution());
    const qreal foot = pdf.resolution() * 0.3;
    document.setPageSize(QSizeF(area.width(), area.height() - foot));
    QPainter painter(&pdf);
    QFont small = painter.font();
    small.setPointSizeF(8);
    const int pages = document.pageCount();
    for (int page = 0; page < pages; ++page) {
      if (page > 0) pdf.newPage();
      const qreal top = page * document.pageSize().height();
      painter.save();
      painter.translate(0, -top);
      document.drawContents(&painter, QRectF(0, top, area.width(), document.pageSize().height()));
      painter.restore();
      painter.setFont(small);
      painter.drawText(QRectF(0, area.height() - foot, area.width(), foot), Qt::AlignRight | Qt::AlignBottom,
                       QStringLiteral("%1 / %2").arg(page + 1).arg(pages));
    }
    if (!painter.end())
      return Failure{Failure::Kind::kWrite, path, QStringLiteral("the PDF could not be made"), {}};
  } else if (file.write(html.toUtf8()) < 0) {
    return Failure{Failure::Kind::kWrite, path, file.errorString(), {}};
  }
  if (!file.commit()) return Failure{Failure::Kind::kWrite, path, file.errorString(), {}};
  return {};
}

}  // namespace tarvex
