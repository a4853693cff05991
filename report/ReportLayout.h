// Pieces both printed reports share: fonts, wrapped text measured line by
// line, and a page flow that moves on to the next page, with its head and
// foot, before anything would run into the foot. A flow runs twice: once
// without drawing to count the pages ("Page 3 of 12"), once drawing.
#pragma once

#include <QDateTime>
#include <QFont>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QString>
#include <QTextLayout>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/LanguageEntries.h"
#include "report/ReportInfo.h"

namespace kyvo::report_detail {

inline QString q(const std::string& s) {
    return QString::fromStdString(s);
}
QString tr(const TReportInfo& info, const TLangEntry& e);
QFont sizedFont(qreal points, bool bold = false);
// The program's fixed date format, whatever the user's regional settings.
QString fixedDateTime(const QDateTime& t);
// "Kyvo Data Reader 0.1.0".
QString programLine(const TReportInfo& info);

// A text laid out into a width: its lines with their heights, so that it can
// be drawn a part at a time. Words longer than the width break anywhere, so
// that no device text runs off the page.
class TWrappedText {
  public:
    TWrappedText(const QString& text, const QFont& font, qreal width, QPaintDevice* device,
                 Qt::Alignment align = Qt::AlignLeft);
    qreal Height() const { return height_; }
    int LineCount() const { return int(tops_.size()); }
    // The height of lines [from, to).
    qreal HeightOf(int from, int to) const;
    // How many lines from `from` on fit into height; at least one when any is left.
    int LinesFitting(int from, qreal height) const;
    // Draws lines [from, to) with the first at (x, y).
    void Draw(QPainter& p, qreal x, qreal y, int from, int to) const;
    void Draw(QPainter& p, qreal x, qreal y) const { Draw(p, x, y, 0, LineCount()); }

  private:
    std::unique_ptr<QTextLayout> layout_;
    std::vector<qreal> tops_;     // of each line, from the text's top
    std::vector<qreal> bottoms_;  // of each line
    qreal height_ = 0;
};

struct TPageGeometry {
    qreal mm = 1;      // device units per millimetre
    qreal width = 0;   // of the paintable area
    qreal height = 0;  // of the paintable area
};

class TPageFlow {
  public:
    // head paints the top of a page and returns the height it took; foot
    // paints the bottom (its height is footHeight) with the page number and
    // the count. Without drawing only the pages are counted.
    TPageFlow(QPainter& painter, QPagedPaintDevice& device, const TPageGeometry& g, bool drawing,
              int pages, std::function<qreal(TPageFlow&)> head,
              std::function<void(TPageFlow&, int page, int pages)> foot, qreal footHeight);

    QPainter& P() { return p_; }
    const TPageGeometry& G() const { return g_; }
    bool Drawing() const { return drawing_; }
    int Page() const { return page_; }
    bool Failed() const { return failed_; }

    qreal Y = 0;
    // Where content may go down to on every page.
    qreal Bottom() const { return g_.height - footHeight_ - 3 * g_.mm; }
    qreal Room() const { return Bottom() - Y; }
    bool AtTop() const { return Y <= top_ + 0.01; }

    // Starts the first page (the device's present one).
    void Begin();
    // Ends this page with its foot and starts a new one with its head.
    void NewPage();
    // A new page unless height fits below Y (or the page is still empty).
    void Need(qreal height);
    // Ends the last page with its foot.
    void Finish();

    // Draws text at x within its width from Y downwards, moving to new pages
    // between its lines where needed; Y ends below it.
    void Flow(const TWrappedText& text, qreal x);

  private:
    QPainter& p_;
    QPagedPaintDevice& device_;
    TPageGeometry g_;
    bool drawing_;
    int pages_;
    std::function<qreal(TPageFlow&)> head_;
    std::function<void(TPageFlow&, int, int)> foot_;
    qreal footHeight_;
    int page_ = 0;
    qreal top_ = 0;
    bool failed_ = false;
};

// The foot every report page has: the creation time at the left, "Page n of
// m" at the right, a rule above them.
void paintReportFoot(TPageFlow& flow, const TReportInfo& info, const QDateTime& createdAt, int page,
                     int pages);
qreal reportFootHeight(QPainter& p);

// The head line every report page has: the program at the left, right a
// text (the device) when not empty, a rule below; returns its height.
qreal paintReportHead(TPageFlow& flow, const TReportInfo& info, const QString& right);

}  // namespace kyvo::report_detail
