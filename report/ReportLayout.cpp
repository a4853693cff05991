#include "report/ReportLayout.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTextOption>
#include <algorithm>

namespace kyvo::report_detail {

QString tr(const TReportInfo& info, const TLangEntry& e) {
    return q(info.Text ? info.Text(e) : EnglishText(e));
}

QFont sizedFont(qreal points, bool bold) {
    QFont f = QGuiApplication::font();
    f.setPointSizeF(points);
    f.setBold(bold);
    // No ligatures, so that "fi" stays two letters for text search and for
    // copying out of the PDF.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

QString fixedDateTime(const QDateTime& t) {
    return t.toString(QStringLiteral("MM/dd/yyyy hh:mm:ss"));
}

QString programLine(const TReportInfo& info) {
    QString program = q(info.ProgramName);
    if (!info.ProgramVersion.empty()) program += QStringLiteral(" ") + q(info.ProgramVersion);
    return program;
}

TWrappedText::TWrappedText(const QString& text, const QFont& font, qreal width,
                           QPaintDevice* device, Qt::Alignment align)
    : layout_(std::make_unique<QTextLayout>(
          // Line ends of the text end its lines, which QTextLayout does only
          // for the Unicode line separator.
          QString(text).replace(QLatin1Char('\n'), QChar::LineSeparator), font, device)) {
    QTextOption option(align);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout_->setTextOption(option);
    layout_->setCacheEnabled(true);
    const QFontMetricsF fm(font, device);
    const qreal leading = fm.leading();
    qreal y = 0;
    layout_->beginLayout();
    for (QTextLine line = layout_->createLine(); line.isValid(); line = layout_->createLine()) {
        line.setLineWidth(std::max<qreal>(1, width));
        y += leading;
        line.setPosition(QPointF(0, y));
        tops_.push_back(y);
        y += line.height();
        bottoms_.push_back(y);
    }
    layout_->endLayout();
    height_ = std::max(y, fm.height());
}

qreal TWrappedText::HeightOf(int from, int to) const {
    to = std::min(to, LineCount());
    if (from >= to) return 0;
    const qreal start = from == 0 ? 0 : bottoms_[std::size_t(from - 1)];
    const qreal end = to == LineCount() ? height_ : bottoms_[std::size_t(to - 1)];
    return end - start;
}

int TWrappedText::LinesFitting(int from, qreal height) const {
    int to = from;
    while (to < LineCount() && HeightOf(from, to + 1) <= height) ++to;
    if (to == from && from < LineCount()) ++to;
    return to - from;
}

void TWrappedText::Draw(QPainter& p, qreal x, qreal y, int from, int to) const {
    to = std::min(to, LineCount());
    const qreal start = from == 0 ? 0 : bottoms_[std::size_t(from - 1)];
    for (int i = from; i < to; ++i) layout_->lineAt(i).draw(&p, QPointF(x, y - start));
}

TPageFlow::TPageFlow(QPainter& painter, QPagedPaintDevice& device, const TPageGeometry& g,
                     bool drawing, int pages, std::function<qreal(TPageFlow&)> head,
                     std::function<void(TPageFlow&, int, int)> foot, qreal footHeight)
    : p_(painter),
      device_(device),
      g_(g),
      drawing_(drawing),
      pages_(pages),
      head_(std::move(head)),
      foot_(std::move(foot)),
      footHeight_(footHeight) {}

void TPageFlow::Begin() {
    page_ = 1;
    Y = 0;
    if (head_) Y = head_(*this);
    top_ = Y;
}

void TPageFlow::NewPage() {
    if (drawing_ && foot_) foot_(*this, page_, pages_);
    if (drawing_ && !device_.newPage()) failed_ = true;
    ++page_;
    Y = 0;
    if (head_) Y = head_(*this);
    top_ = Y;
}

void TPageFlow::Need(qreal height) {
    if (Y + height > Bottom() && !AtTop()) NewPage();
}

void TPageFlow::Finish() {
    if (drawing_ && foot_) foot_(*this, page_, pages_);
}

void TPageFlow::Flow(const TWrappedText& text, qreal x) {
    int from = 0;
    while (from < text.LineCount()) {
        int n = text.LinesFitting(from, Room());
        if (text.HeightOf(from, from + n) > Room() && !AtTop()) {
            NewPage();
            continue;
        }
        if (drawing_) text.Draw(p_, x, Y, from, from + n);
        Y += text.HeightOf(from, from + n);
        from += n;
        if (from < text.LineCount()) NewPage();
    }
}

qreal reportFootHeight(QPainter& p) {
    return QFontMetricsF(sizedFont(8), p.device()).height();
}

void paintReportFoot(TPageFlow& flow, const TReportInfo& info, const QDateTime& createdAt, int page,
                     int pages) {
    QPainter& p = flow.P();
    const TPageGeometry& g = flow.G();
    const QFont small = sizedFont(8);
    const qreal footH = reportFootHeight(p);
    const qreal footY = g.height - footH;
    p.save();
    p.setPen(QPen(Qt::black, 0.2 * g.mm));
    p.drawLine(QPointF(0, footY - 1.5 * g.mm), QPointF(g.width, footY - 1.5 * g.mm));
    p.setFont(small);
    p.drawText(QRectF(0, footY, g.width / 2, footH), Qt::AlignLeft | Qt::AlignVCenter,
               tr(info, LE_ReportCreated) + QStringLiteral(": ") + fixedDateTime(createdAt));
    p.drawText(QRectF(g.width / 2, footY, g.width / 2, footH), Qt::AlignRight | Qt::AlignVCenter,
               tr(info, LE_PageNofM).arg(page).arg(pages));
    p.restore();
}

qreal paintReportHead(TPageFlow& flow, const TReportInfo& info, const QString& right) {
    QPainter& p = flow.P();
    const TPageGeometry& g = flow.G();
    const QFont small = sizedFont(8);
    const qreal headW = g.width / 2;
    const TWrappedText left(programLine(info), small, headW, p.device());
    qreal used = left.Height();
    std::unique_ptr<TWrappedText> rightText;
    if (!right.isEmpty()) {
        rightText = std::make_unique<TWrappedText>(right, small, headW, p.device(), Qt::AlignRight);
        used = std::max(used, rightText->Height());
    }
    if (flow.Drawing()) {
        p.save();
        p.setPen(Qt::black);
        left.Draw(p, 0, 0);
        if (rightText) rightText->Draw(p, headW, 0);
        const qreal ruleY = used + 1 * g.mm;
        p.setPen(QPen(Qt::black, 0.2 * g.mm));
        p.drawLine(QPointF(0, ruleY), QPointF(g.width, ruleY));
        p.restore();
    }
    return used + 5 * g.mm;
}

}  // namespace kyvo::report_detail
