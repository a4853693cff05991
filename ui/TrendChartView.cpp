#include "ui/TrendChartView.h"


#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QTableView>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>
#include <map>
#include <memory>

#include "app/Main.h"
#include "files/LanguageEntries.h"
#include "files/ResultExport.h"
#include "report/ChartPainter.h"
#include "report/MeasureReport.h"
#include "ui/ArchiveView.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// A press that moves less than this is a click.
constexpr qreal kClickSlop = 4;
constexpr qreal kHitRadius = 8;

}  // namespace

// ---------------------------------------------------------------------------
// the canvas

TTrendCanvas::TTrendCanvas(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(260, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TTrendCanvas::setData(TChartData data) {
    data_ = std::move(data);
    view_ = {};
    update();
}

void TTrendCanvas::setViewport(const TChartViewport& view) {
    view_ = view;
    update();
}

void TTrendCanvas::fit() {
    setViewport({});
}

void TTrendCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setFont(font());
    PaintChart(p, QRectF(rect()), data_, view_);
}

TChartHit TTrendCanvas::hitAt(const QPointF& pos) const {
    return PointAt(QRectF(rect()), data_, view_, QFontMetricsF(font(), this), pos, kHitRadius);
}

QPointF TTrendCanvas::pointPosition(int series, int point) const {
    const TChartGeometry g =
        ChartGeometry(QRectF(rect()), data_, view_, QFontMetricsF(font(), this));
    const TChartPoint& p = data_.Series.at(std::size_t(series)).Points.at(std::size_t(point));
    if (p.Value) return {g.XOf(p.Time), g.YOf(*p.Value)};
    return {g.XOf(p.Time),
            g.TextStrip.bottom() -
                std::max<qreal>(1.5, QFontMetricsF(font(), this).height() * 0.22) * 1.6};
}

QString TTrendCanvas::hoverText(const QPointF& pos) const {
    const TChartHit hit = hitAt(pos);
    if (!hit.Valid()) return {};
    return q(data_.Series[std::size_t(hit.Series)].Points[std::size_t(hit.Point)].Label);
}

void TTrendCanvas::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y();
    if (steps == 0) return;
    const TChartGeometry g =
        ChartGeometry(QRectF(rect()), data_, view_, QFontMetricsF(font(), this));
    const QPointF at = event->position();
    const double atTime = (at.x() - g.Plot.left()) / g.Plot.width();
    const double atValue = (g.Plot.bottom() - at.y()) / g.Plot.height();
    const bool valuesOnly = event->modifiers() & Qt::ShiftModifier;
    const bool timeOnly = event->modifiers() & Qt::ControlModifier;
    view_ = ZoomViewport(g.View, std::pow(1.25, steps / 120.0), atTime, atValue, !valuesOnly,
                         !timeOnly);
    update();
    event->accept();
}

void TTrendCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    dragged_ = false;
    pressAt_ = event->position();
    pressView_ = ChartGeometry(QRectF(rect()), data_, view_, QFontMetricsF(font(), this)).View;
}

void TTrendCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_ && (event->buttons() & Qt::LeftButton)) {
        const QPointF d = event->position() - pressAt_;
        if (!dragged_ && std::hypot(d.x(), d.y()) < kClickSlop) return;
        dragged_ = true;
        const TChartGeometry g =
            ChartGeometry(QRectF(rect()), data_, pressView_, QFontMetricsF(font(), this));
        view_ = PanViewport(pressView_, -d.x() / g.Plot.width(), d.y() / g.Plot.height());
        setCursor(Qt::ClosedHandCursor);
        update();
        return;
    }
    const QString text = hoverText(event->position());
    if (text.isEmpty()) {
        QToolTip::hideText();
        unsetCursor();
    } else {
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
        setCursor(Qt::PointingHandCursor);
    }
}

void TTrendCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) return;
    pressed_ = false;
    unsetCursor();
    if (dragged_) return;
    const TChartHit hit = hitAt(event->position());
    if (hit.Valid())
        emit measurementClicked(
            data_.Series[std::size_t(hit.Series)].Points[std::size_t(hit.Point)].MeasurementId);
}

void TTrendCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !hitAt(event->position()).Valid()) fit();
}

// ---------------------------------------------------------------------------
// the view beside the table

TTrendChartView::TTrendChartView(TArchiveWindow& window, ILanguage* language)
    : QWidget(&window), window_(window), language_(language) {
    picker_ = new QComboBox(this);
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker_->setMinimumContentsLength(16);
    colour_ = new QComboBox(this);
    colour_->addItem(QString(), int(ETrendColour::Device));
    colour_->addItem(QString(), int(ETrendColour::Lot));
    fit_ = new QPushButton(this);
    counts_ = new QLabel(this);
    counts_->setWordWrap(true);
    hint_ = new QLabel(this);
    hint_->setWordWrap(true);
    hint_->setStyleSheet(QStringLiteral("color: #666;"));
    canvas_ = new TTrendCanvas(this);

    auto* top = new QHBoxLayout;
    top->addWidget(picker_, 1);
    top->addWidget(colour_);
    top->addWidget(fit_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(canvas_, 1);
    layout->addWidget(counts_);
    layout->addWidget(hint_);

    connect(picker_, &QComboBox::currentIndexChanged, this, [this] {
        if (!filling_) loadPoints();
    });
    connect(colour_, &QComboBox::currentIndexChanged, this, [this] { rebuild(); });
    connect(fit_, &QPushButton::clicked, canvas_, &TTrendCanvas::fit);
    connect(canvas_, &TTrendCanvas::measurementClicked, this,
            [this](std::int64_t id) { selectMeasurement(id); });
    applyTexts();
}

std::string TTrendChartView::lang(const TLangEntry& e) const {
    return language_ ? language_->Text(e) : std::string(e.Def);
}

void TTrendChartView::applyTexts() {
    colour_->setItemText(0, q(lang(LE_TrendColourBy) + ": " + lang(LE_TrendByDevice)));
    colour_->setItemText(1, q(lang(LE_TrendColourBy) + ": " + lang(LE_TrendByLot)));
    fit_->setText(q(lang(LE_TrendFit)));
    hint_->setText(q(lang(LE_TrendHint)));
    picker_->setToolTip(q(lang(LE_TrendResult)));
    if (!names_.empty() || !points_.empty()) rebuild();
}

bool TTrendChartView::chooseResult(const std::string& test, const std::string& result) {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i].TestName == test && names_[i].ResultName == result) {
            if (picker_->currentIndex() == int(i))
                loadPoints();
            else
                picker_->setCurrentIndex(int(i));
            return true;
        }
    }
    return false;
}

void TTrendChartView::setColourBy(ETrendColour by) {
    colour_->setCurrentIndex(by == ETrendColour::Lot ? 1 : 0);
}

void TTrendChartView::filterChanged() {
    if (!window_.archiveOpen()) return;
    const unsigned ticket = ++generation_;
    TArchiveFilter f = window_.model()->filter();
    f.Offset = 0;
    f.Limit = kNamesOf;
    window_.access_->Run<std::vector<TArchiveResultName>>(
        [f](IArchive& a) { return a.ResultNames(f); },
        [this, ticket](std::vector<TArchiveResultName> names) {
            if (ticket != generation_) return;
            // The chosen result stays chosen while the filter still holds it.
            std::string test, result;
            const int at = picker_->currentIndex();
            if (at >= 0 && std::size_t(at) < names_.size()) {
                test = names_[std::size_t(at)].TestName;
                result = names_[std::size_t(at)].ResultName;
            }
            names_ = std::move(names);
            filling_ = true;
            picker_->clear();
            int keep = names_.empty() ? -1 : 0;
            for (std::size_t i = 0; i < names_.size(); ++i) {
                picker_->addItem(q(names_[i].TestName + " - " + names_[i].ResultName));
                if (names_[i].TestName == test && names_[i].ResultName == result) keep = int(i);
            }
            picker_->setCurrentIndex(keep);
            filling_ = false;
            loadPoints();
        },
        [this](const TArchiveFailure&) { counts_->clear(); });
}

void TTrendChartView::loadPoints() {
    const int at = picker_->currentIndex();
    if (at < 0 || std::size_t(at) >= names_.size()) {
        points_.clear();
        rebuild();
        return;
    }
    const TArchiveResultName name = names_[std::size_t(at)];
    const unsigned ticket = ++generation_;
    TArchiveFilter f = window_.model()->filter();
    f.Test = name.TestName;
    // Controls stay out of the patients' trend unless they are asked for.
    if (f.Role.empty()) f.Role = "patient";
    f.Offset = 0;
    f.Limit = kMaxPoints;
    f.Descending = true;  // the newest, when there are more
    window_.access_->Run<std::vector<TArchiveResultPoint>>(
        [f, result = name.ResultName](IArchive& a) {
            auto points = a.ResultPoints(f, result);
            std::reverse(points.begin(), points.end());
            return points;
        },
        [this, ticket](std::vector<TArchiveResultPoint> points) {
            if (ticket != generation_) return;
            points_ = std::move(points);
            rebuild();
        },
        [this](const TArchiveFailure&) { counts_->clear(); });
}

TTrendOptions TTrendChartView::trendOptions() const {
    TTrendOptions o;
    o.ColourBy = ETrendColour(colour_->currentData().toInt());
    o.InvalidTexts = {EnglishText(LE_Invalid), lang(LE_Invalid)};
    o.TextEdgeLabel = lang(LE_TrendTextOnly);
    return o;
}

void TTrendChartView::rebuild() {
    const int at = picker_->currentIndex();
    if (at < 0 || std::size_t(at) >= names_.size()) {
        chart_ = {};
        canvas_->setData({});
        counts_->setText(names_.empty() ? q(lang(LE_TrendNoResults)) : QString());
        emit chartShown();
        return;
    }
    const TArchiveResultName& name = names_[std::size_t(at)];
    chart_ = BuildTrendChart(name.TestName, name.ResultName, points_, trendOptions());
    canvas_->setData(chart_.Data);
    counts_->setText(q(
        ReplacePlaceholders(lang(LE_TrendCounts),
                            {std::to_string(chart_.Points), std::to_string(chart_.TextOnly),
                             std::to_string(chart_.Invalid), std::to_string(chart_.WithoutDate)})));
    emit chartShown();
}

void TTrendChartView::selectMeasurement(std::int64_t id) {
    ArchiveTableModel* model = window_.model();
    QTableView* table = window_.table();
    auto select = [&window = window_, model, table, id](int row) {
        window.selectedIds_ = {id};
        const QModelIndex index = model->index(row, 0);
        table->scrollTo(index, QAbstractItemView::PositionAtCenter);
        if (model->rowAt(row)) {
            table->selectionModel()->select(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        }
    };
    // The rows at hand first; then the archive, page by page.
    for (int row = 0; row < model->rowCount(); ++row) {
        const TArchiveRow* r = model->rowAt(row);
        if (r && r->Id == id) {
            select(row);
            return;
        }
    }
    window_.access_->Run<int>(
        [f = model->filter(), id](IArchive& a) {
            constexpr int kPages = 100;
            for (int page = 0; page < kPages; ++page) {
                TArchiveFilter p = f;
                p.Offset = std::size_t(page) * ArchiveTableModel::kPageSize;
                p.Limit = ArchiveTableModel::kPageSize;
                const auto rows = a.List(p);
                for (std::size_t i = 0; i < rows.size(); ++i)
                    if (rows[i].Id == id) return int(p.Offset + i);
                if (rows.size() < p.Limit) break;
            }
            return -1;
        },
        [select](int row) {
            if (row >= 0) select(row);
        },
        [](const TArchiveFailure&) {});
}

// ---------------------------------------------------------------------------
// the summary report

namespace {

// "12 3 1 7 1807 0042 34082560": the device is the fifth and sixth word.
std::string deviceOfIdentity(const std::string& testId) {
    std::vector<std::string> w;
    std::string word;
    for (char c : testId + " ") {
        if (c == ' ') {
            if (!word.empty()) w.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return w.size() == 7 ? w[4] + " " + w[5] : std::string();
}

}  // namespace

bool TTrendChartView::collectSummary(std::function<void(TSummaryReport)> then) {
    if (!window_.archiveOpen()) return false;
    const TTrendOptions options = trendOptions();
    const TextLookup text = [this](const TLangEntry& e) { return lang(e); };
    if (window_.table()->selectionModel()->hasSelection()) {
        // The listing's rows carry what the measurements do not: role and QC flag.
        std::map<std::string, TArchiveRow> listed;
        for (const QModelIndex& i : window_.table()->selectionModel()->selectedRows())
            if (const TArchiveRow* row = window_.model()->rowAt(i.row()))
                listed.emplace(row->TestId, *row);
        window_.loadSelected([this, then, options, text, listed](TMeasureList sets) {
            TSummaryReport r;
            r.Scope =
                ReplacePlaceholders(lang(LE_SummaryScopeSelection), {std::to_string(sets.size())});
            for (const auto& s : sets) {
                const auto known = listed.find(s->TestID);
                TArchiveRow row = known != listed.end() ? known->second : TArchiveRow{};
                row.DateTime = IsoDateTime(s->DateTime);
                if (row.DateTime.empty()) row.DateTime = dateDataToNumberText(s->DateTime);
                row.DeviceSerial = deviceOfIdentity(s->TestID);
                r.Rows.push_back(SummaryMeasurementOf(row, *s));
            }
            std::stable_sort(r.Rows.begin(), r.Rows.end(),
                             [](const auto& a, const auto& b) { return a.DateTime < b.DateTime; });
            r.Charts = SummaryTrendCharts(r.Rows, options);
            then(std::move(r));
        });
        return true;
    }
    TArchiveFilter f = window_.model()->filter();
    f.Sort = EArchiveSort::DateTime;
    f.Descending = false;
    f.Offset = 0;
    f.Limit = 0;
    const std::string terms = DescribeFilter(f, text);
    const std::string scope = ReplacePlaceholders(lang(LE_SummaryScopeFilter),
                                                  {terms.empty() ? lang(LE_SummaryAll) : terms});
    window_.access_->Run<std::shared_ptr<TSummaryReport>>(
        [f, scope, options](IArchive& a) {
            if (a.Count(f) > kMaxSummary) return std::shared_ptr<TSummaryReport>();
            return std::make_shared<TSummaryReport>(
                SummaryFromArchive(a, a.List(f), scope, options));
        },
        [this, then](std::shared_ptr<TSummaryReport> r) {
            if (!r) {
                window_.message(ReplacePlaceholders(lang(LE_ArchiveTooManySelected),
                                                    {std::to_string(kMaxSummary)}));
                return;
            }
            if (r->Rows.empty()) {
                window_.message(lang(LE_NothingToExport));
                return;
            }
            then(std::move(*r));
        },
        [this](const TArchiveFailure& f) { window_.showFailure(f); });
    return true;
}

bool TTrendChartView::writeSummary(const QString& path, const TSummaryReport& report) {
    TReportInfo info;
    info.ProgramName = "Kyvo Data Reader";
    info.ProgramVersion = ProgramVersionString();
    info.Text = [this](const TLangEntry& e) { return lang(e); };
    std::string error;
    if (!writeSummaryReportPdf(path, report, info, reportPageSize(QLocale()), error)) {
        window_.message(lang(LE_FileWriteError) + path.toStdString() + "\n" + error);
        return false;
    }
    return true;
}

void TTrendChartView::reportSummary() {
    collectSummary([this](TSummaryReport report) {
        QString filter = q(lang(LE_PdfFileFilter));
        filter.replace(QLatin1Char('|'), QStringLiteral(" (")).append(QLatin1Char(')'));
        const QString path = QFileDialog::getSaveFileName(&window_, q(lang(LE_SummaryReport)),
                                                          QDir::homePath(), filter);
        if (path.isEmpty()) return;
        writeSummary(path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)
                         ? path
                         : path + QStringLiteral(".pdf"),
                     report);
    });
}

}  // namespace kyvo
