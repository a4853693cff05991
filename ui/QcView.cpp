#include "ui/QcView.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "app/Main.h"
#include "qc/LeveyJennings.h"
#include "report/ChartPainter.h"
#include "ui/ArchiveView.h"
#include "ui/FormMessageBox.h"
#include "ui/FormSelect.h"
#include "ui/InputQuery.h"
#include "ui/ListViewLook.h"
#include "ui/MainWindow.h"
#include "ui/QcMaterials.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string s(const QString& text) {
    return text.trimmed().toUtf8().toStdString();
}

std::string langOf(ILanguage* language, const TLangEntry& e) {
    return language ? language->Text(e) : std::string(e.Def);
}

}  // namespace

// ---------------------------------------------------------------------------
// the chart

TQcChartView::TQcChartView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 220);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void TQcChartView::setData(TChartData data) {
    data_ = std::move(data);
    view_ = {};
    update();
}

void TQcChartView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintChart(painter, QRectF(rect()).adjusted(4, 4, -4, -4), data_, view_);
}

void TQcChartView::mouseMoveEvent(QMouseEvent* event) {
    const QRectF area = QRectF(rect()).adjusted(4, 4, -4, -4);
    if (dragFrom_ && (event->buttons() & Qt::LeftButton)) {
        const TChartGeometry g = ChartGeometry(area, data_, view_, QFontMetricsF(font()));
        const QPointF d = event->position() - *dragFrom_;
        if (g.Plot.width() > 0 && g.Plot.height() > 0 && (d.manhattanLength() > 2 || dragged_)) {
            dragged_ = true;
            view_ = PanViewport(g.View, -d.x() / g.Plot.width(), d.y() / g.Plot.height());
            dragFrom_ = event->position();
            update();
        }
        return;
    }
    const TChartHit hit = PointAt(area, data_, view_, QFontMetricsF(font()), event->position(), 6);
    if (hit.Valid())
        QToolTip::showText(
            event->globalPosition().toPoint(),
            q(data_.Series[std::size_t(hit.Series)].Points[std::size_t(hit.Point)].Label), this);
    else
        QToolTip::hideText();
}

void TQcChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragFrom_ = event->position();
    dragged_ = false;
}

void TQcChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const bool dragged = dragged_;
    dragFrom_.reset();
    dragged_ = false;
    if (dragged) return;
    const TChartHit hit = PointAt(QRectF(rect()).adjusted(4, 4, -4, -4), data_, view_,
                                  QFontMetricsF(font()), event->position(), 6);
    if (hit.Valid())
        emit pointClicked(
            data_.Series[std::size_t(hit.Series)].Points[std::size_t(hit.Point)].MeasurementId);
}

void TQcChartView::mouseDoubleClickEvent(QMouseEvent*) {
    view_ = {};
    update();
}

void TQcChartView::wheelEvent(QWheelEvent* event) {
    const QRectF area = QRectF(rect()).adjusted(4, 4, -4, -4);
    const TChartGeometry g = ChartGeometry(area, data_, view_, QFontMetricsF(font()));
    if (g.Plot.width() <= 0 || g.Plot.height() <= 0) return;
    const QPointF at = event->position();
    const double fx = std::clamp((at.x() - g.Plot.left()) / g.Plot.width(), 0.0, 1.0);
    const double fy = std::clamp((g.Plot.bottom() - at.y()) / g.Plot.height(), 0.0, 1.0);
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) return;
    // Ctrl zooms the values, otherwise the time.
    const bool values = event->modifiers() & Qt::ControlModifier;
    view_ = ZoomViewport(g.View, std::pow(1.25, steps), fx, fy, !values, values);
    update();
}

// ---------------------------------------------------------------------------
// the violations

TQcViolationModel::TQcViolationModel(QObject* parent) : QAbstractTableModel(parent) {}

void TQcViolationModel::setViolations(std::vector<qc::TQcViolation> violations,
                                      std::vector<TQcAcknowledgement> acks) {
    beginResetModel();
    violations_ = std::move(violations);
    std::reverse(violations_.begin(), violations_.end());
    acks_ = std::move(acks);
    endResetModel();
}

void TQcViolationModel::setTexts(const QStringList& titles, const QString& warning,
                                 const QString& reject) {
    titles_ = titles;
    warning_ = warning;
    reject_ = reject;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
    if (!violations_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

const qc::TQcViolation* TQcViolationModel::violationAt(int row) const {
    return row >= 0 && row < int(violations_.size()) ? &violations_[std::size_t(row)] : nullptr;
}

int TQcViolationModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(violations_.size());
}

int TQcViolationModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(EQcViolationColumn::Count_);
}

QString TQcViolationModel::cellText(int row, int column) const {
    const qc::TQcViolation* v = violationAt(row);
    if (!v) return {};
    switch (EQcViolationColumn(column)) {
        case EQcViolationColumn::Rule:
            return q(qc::RuleName(v->Rule));
        case EQcViolationColumn::Severity:
            return v->Severity == qc::EQcSeverity::Reject ? reject_ : warning_;
        case EQcViolationColumn::Lot:
            return q(v->Lot);
        case EQcViolationColumn::Measurements: {
            QStringList ids;
            for (const std::string& id : v->TestIds) ids << q(id);
            return ids.join(QStringLiteral(", "));
        }
        case EQcViolationColumn::Acknowledged:
            return q(AcknowledgementText(AcknowledgementsOf(acks_, *v)));
        default:
            return {};
    }
}

QVariant TQcViolationModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const qc::TQcViolation* v = violationAt(index.row());
    if (!v) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cellText(index.row(), index.column());
    if (role == Qt::ForegroundRole && v->Severity == qc::EQcSeverity::Reject &&
        index.column() <= int(EQcViolationColumn::Severity))
        return QColor(0xb0, 0, 0);
    return {};
}

QVariant TQcViolationModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::ToolTipRole) &&
        section >= 0 && section < titles_.size())
        return titles_[section];
    return QAbstractTableModel::headerData(section, o, role);
}

// ---------------------------------------------------------------------------
// the window

TQcWindow::TQcWindow(TArchiveWindow& archive, TForm_Main& controller, ILanguage* language,
                     TArchiveActor actor)
    : QWidget(&archive, Qt::Window),
      archive_(archive),
      controller_(controller),
      language_(language),
      actor_(std::move(actor)) {
    materialLabel_ = new QLabel(this);
    material_ = new QComboBox(this);
    material_->setMinimumContentsLength(16);
    lot_ = new QComboBox(this);
    lot_->setMinimumContentsLength(16);
    chart_ = new TQcChartView(this);
    model_ = std::make_unique<TQcViolationModel>();
    table_ = new QTableView(this);
    setupList(table_);
    table_->setModel(model_.get());
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {60, 120, 90, 420};
    for (int c = 0; c < int(std::size(widths)); ++c) table_->setColumnWidth(c, widths[c]);
    acknowledge_ = new QPushButton(this);
    status_ = new QLabel(this);
    status_->setWordWrap(true);

    auto* top = new QHBoxLayout;
    top->addWidget(materialLabel_);
    top->addWidget(material_, 1);
    top->addWidget(lot_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(acknowledge_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(chart_, 3);
    layout->addWidget(table_, 2);
    layout->addLayout(bottom);

    connect(material_, &QComboBox::currentIndexChanged, this, [this] {
        if (filling_) return;
        fillMaterials();
    });
    connect(lot_, &QComboBox::currentIndexChanged, this, [this] {
        if (!filling_) showChosen();
    });
    connect(acknowledge_, &QPushButton::clicked, this, [this] {
        const QModelIndexList rows = table_->selectionModel()->selectedRows();
        if (!rows.isEmpty()) acknowledgeRow(rows.front().row());
    });
    connect(table_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { acknowledgeRow(i.row()); });
    // The archive changed (here or on another PC): so may the controls.
    // The archive table's QC flags name the failed control from here too.
    connect(archive_.model(), &ArchiveTableModel::countArrived, this, [this] { reload(); });
    resize(900, 700);
    applyTexts();
}

std::string TQcWindow::lang(const TLangEntry& e) const {
    return langOf(language_, e);
}

void TQcWindow::applyTexts() {
    setWindowTitle(q(lang(LE_QcTitle)));
    materialLabel_->setText(q(lang(LE_QcMaterial)));
    acknowledge_->setText(q(lang(LE_QcAcknowledge)));
    model_->setTexts({q(lang(LE_QcRule)), q(lang(LE_QcSeverity)), q(lang(LE_ArchiveLot)),
                      q(lang(LE_QcMeasurements)), q(lang(LE_QcAcknowledged))},
                     q(lang(LE_QcWarning)), q(lang(LE_QcReject)));
    if (!filling_ && material_->count() > 0) fillMaterials();
}

void TQcWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    applyTexts();
    reload();
}

void TQcWindow::reload() {
    if (loading_) {
        // A change while the last answer is on its way: asked again then.
        reloadAgain_ = true;
        return;
    }
    archive_.openIfNeeded();
    loading_ = true;
    archive_.access().Run<std::shared_ptr<TQcOverview>>(
        [](IArchive& a) { return std::make_shared<TQcOverview>(a.QcOverview()); },
        [this](std::shared_ptr<TQcOverview> overview) {
            loading_ = false;
            if (std::exchange(reloadAgain_, false)) {
                reload();
                return;
            }
            overview_ = std::move(*overview);
            const std::string keep = s(material_->currentText());
            filling_ = true;
            material_->clear();
            std::set<std::string> names;
            for (const qc::TControlMaterial& m : overview_.Materials)
                if (names.insert(m.Name).second) material_->addItem(q(m.Name));
            const int at = material_->findText(q(keep));
            material_->setCurrentIndex(at >= 0 ? at : 0);
            filling_ = false;
            fillMaterials();
            emit reloaded();
        },
        [this](const TArchiveFailure& f) {
            loading_ = false;
            reloadAgain_ = false;
            status_->setText(q(ReplacePlaceholders(lang(LE_ArchiveError), {f.Message})));
            emit reloaded();
        });
}

void TQcWindow::showMaterial(const std::string& name) {
    const int at = material_->findText(q(name));
    if (at >= 0) material_->setCurrentIndex(at);
}

// The lots of the chosen material into the lot field; the chart follows.
void TQcWindow::fillMaterials() {
    const std::string name = s(material_->currentText());
    lots_ = name.empty() ? std::vector<qc::TLjSeries>{}
                         : qc::BuildLeveyJennings(overview_.Materials, overview_.Points,
                                                  overview_.Violations, name);
    const int keep = lot_->currentIndex();
    const bool sameCount = lot_->count() == int(lots_.size()) + 1;
    filling_ = true;
    lot_->clear();
    // The last choice: every lot in SD units.
    for (const qc::TLjSeries& l : lots_)
        lot_->addItem(q(ReplacePlaceholders(lang(LE_QcLotSeries), {l.Material.Lot})));
    if (lots_.size() > 1) lot_->addItem(q(lang(LE_QcAllLots)));
    const std::optional<std::size_t> first = DefaultLjLot(lots_);
    lot_->setCurrentIndex(sameCount && keep >= 0 && keep < lot_->count() ? keep
                          : first                                        ? int(*first)
                                                                         : -1);
    filling_ = false;
    showChosen();
}

void TQcWindow::showChosen() {
    const std::string name = s(material_->currentText());
    TLjChartTexts texts;
    texts.Mean = lang(LE_QcMean);
    texts.Sd = lang(LE_QcSd);
    texts.LotSeries = lang(LE_QcLotSeries);
    texts.NoNumber = lang(LE_QcNoNumber);
    const int at = lot_->currentIndex();
    std::optional<std::size_t> lot;
    if (at >= 0 && at < int(lots_.size())) lot = std::size_t(at);
    TChartData data = LeveyJenningsViewData(lots_, lot, texts);
    if (data.Title.empty()) data.Title = name;
    chart_->setData(std::move(data));

    std::vector<qc::TQcViolation> mine;
    for (const qc::TQcViolation& v : overview_.Violations)
        if (v.Material == name) mine.push_back(v);
    const bool none = mine.empty();
    model_->setViolations(std::move(mine), overview_.Acknowledgements);
    bool values = false;
    for (const qc::TLjSeries& l : lots_) values = values || !l.Points.empty();
    status_->setText(q(lang(!values ? LE_QcNoValues : none ? LE_QcNoViolations : LE_Empty)));
    acknowledge_->setEnabled(!none);
}

void TQcWindow::message(const std::string& text) {
    TForm_OwnMessageBox box(this);
    box.SetMessage(QString(), q(text), msOk, q(lang(LE_OK)), QString(), QString());
    controller_.RunPaused([&] { box.exec(); });
}

void TQcWindow::acknowledgeRow(int row) {
    const qc::TQcViolation* v = model_->violationAt(row);
    if (!v) return;
    const qc::TQcViolation violation = *v;
    const std::string what = qc::RuleName(violation.Rule) + " " +
                             (violation.TestIds.empty() ? std::string() : violation.TestIds.back());
    TForm_InputQuery query(this);
    query.SetQuery(q(lang(LE_QcAcknowledge)),
                   q(ReplacePlaceholders(lang(LE_QcAcknowledgePrompt), {what})), q(lang(LE_OK)),
                   q(lang(LE_Cancel)));
    int result = mrCancel;
    controller_.RunPaused([&] { result = query.exec(); });
    if (result != mrOk) return;
    const std::string note = s(query.Edit_Input->text());
    if (note.empty()) {
        message(lang(LE_QcNoteNeeded));
        return;
    }
    acknowledge(violation, note);
}

void TQcWindow::acknowledge(const qc::TQcViolation& violation, const std::string& note) {
    archive_.access().Run<bool>(
        [violation, note, actor = actor_](IArchive& a) {
            a.Acknowledge(violation, note, actor);
            return true;
        },
        [this](bool) { reload(); },
        [this](const TArchiveFailure& f) {
            message(ReplacePlaceholders(lang(LE_ArchiveError), {f.Message}));
        });
}

// ---------------------------------------------------------------------------
// marking measurements

namespace {

// Asks which material the selection is a control of and marks the ids (or
// the measurements with those identity texts) so, or marks them patients'.
class TRoleMarker : public QObject {
  public:
    TRoleMarker(TArchiveWindow& archive, TForm_Main& controller, ILanguage* language,
                TArchiveActor actor, QWidget* parent)
        : QObject(parent),
          archive_(archive),
          controller_(controller),
          language_(language),
          actor_(std::move(actor)),
          parent_(parent) {}

    // ids: archive ids; testIds: identity texts of measurements not known by id.
    void mark(bool control, std::vector<std::int64_t> ids, std::vector<std::string> testIds) {
        if (ids.empty() && testIds.empty()) {
            message(lang(LE_ArchiveNothingSelected));
            return;
        }
        archive_.openIfNeeded();
        if (!control) {
            apply("patient", "", std::move(ids), std::move(testIds));
            return;
        }
        archive_.access().Run<std::vector<qc::TControlMaterial>>(
            [](IArchive& a) { return a.Materials(); },
            [this, ids = std::move(ids),
             testIds = std::move(testIds)](std::vector<qc::TControlMaterial> materials) mutable {
                QStringList names;
                for (const qc::TControlMaterial& m : materials)
                    if (m.Retired.empty() && !names.contains(q(m.Name))) names << q(m.Name);
                if (names.isEmpty()) {
                    message(lang(LE_QcNoMaterials));
                    return;
                }
                TForm_Select select(parent_);
                select.setWindowTitle(q(lang(LE_QcMarkControl)));
                select.Label_Select->setText(q(lang(LE_QcChooseMaterial)));
                select.Button_OK->setText(q(lang(LE_OK)));
                select.Button_Cancel->setText(q(lang(LE_Cancel)));
                select.SetSelCnt(names);
                select.setItemIndex(0);
                int result = mrCancel;
                controller_.RunPaused([&] { result = select.exec(); });
                if (result != mrOk || select.itemIndex() < 0) return;
                apply("control", s(names[select.itemIndex()]), std::move(ids), std::move(testIds));
            },
            [this](const TArchiveFailure& f) { failed(f); });
    }

  private:
    struct TOutcome {
        int Marked = 0;
        int Unknown = 0;
    };
    void apply(const std::string& role, const std::string& material, std::vector<std::int64_t> ids,
               std::vector<std::string> testIds) {
        archive_.access().Run<TOutcome>(
            [role, material, ids, testIds, actor = actor_](IArchive& a) {
                TOutcome out;
                std::vector<std::int64_t> all = ids;
                for (const std::string& t : testIds) {
                    if (auto id = a.FindByTestId(t))
                        all.push_back(*id);
                    else
                        ++out.Unknown;
                }
                for (std::int64_t id : all) {
                    a.SetRole(id, role, material, actor);
                    ++out.Marked;
                }
                return out;
            },
            [this](TOutcome out) {
                std::string text =
                    ReplacePlaceholders(lang(LE_QcRolesSet), {std::to_string(out.Marked)});
                if (out.Unknown > 0)
                    text += "\n" + ReplacePlaceholders(lang(LE_QcNotInArchive),
                                                       {std::to_string(out.Unknown)});
                archive_.poll();
                message(text);
            },
            [this](const TArchiveFailure& f) { failed(f); });
    }
    void failed(const TArchiveFailure& f) {
        message(ReplacePlaceholders(lang(LE_ArchiveError), {f.Message}));
    }
    void message(const std::string& text) {
        TForm_OwnMessageBox box(parent_);
        box.SetMessage(QString(), q(text), msOk, q(lang(LE_OK)), QString(), QString());
        controller_.RunPaused([&] { box.exec(); });
    }
    std::string lang(const TLangEntry& e) const { return langOf(language_, e); }

    TArchiveWindow& archive_;
    TForm_Main& controller_;
    ILanguage* language_;
    TArchiveActor actor_;
    QWidget* parent_;
};

}  // namespace

TQcWindow* installQcView(TArchiveWindow& archive, TMainWindow& main, TForm_Main& controller,
                         ILanguage* language, TArchiveActor actor) {
    auto* qcWindow = new TQcWindow(archive, controller, language, actor);
    auto* menuButton = new QPushButton(&archive);
    auto* menu = new QMenu(menuButton);
    QAction* open = menu->addAction(QString());
    QAction* materials = menu->addAction(QString());
    menu->addSeparator();
    QAction* markControl = menu->addAction(QString());
    QAction* markPatient = menu->addAction(QString());
    menuButton->setMenu(menu);
    archive.buttonRow()->insertWidget(3, menuButton);

    auto* marker = new TRoleMarker(archive, controller, language, actor, &archive);
    auto* mainMarker = new TRoleMarker(archive, controller, language, actor, &main);
    QObject::connect(open, &QAction::triggered, qcWindow, [qcWindow] {
        qcWindow->show();
        qcWindow->raise();
        qcWindow->activateWindow();
    });
    QObject::connect(materials, &QAction::triggered, &archive,
                     [&archive, &controller, language, actor, qcWindow] {
                         archive.openIfNeeded();
                         TQcMaterialsDialog dialog(archive.access(), controller, language, actor,
                                                   &archive);
                         controller.RunPaused([&] { dialog.exec(); });
                         if (qcWindow->isVisible()) qcWindow->reload();
                         archive.poll();
                     });
    QObject::connect(markControl, &QAction::triggered, marker,
                     [&archive, marker] { marker->mark(true, archive.selectedIds(), {}); });
    QObject::connect(markPatient, &QAction::triggered, marker,
                     [&archive, marker] { marker->mark(false, archive.selectedIds(), {}); });

    // The flag and the role where they are seen without scrolling: beside
    // the date.
    QTableView* table = archive.table();
    QHeaderView* header = table->horizontalHeader();
    header->moveSection(header->visualIndex(int(EArchiveColumn::Qc)), 1);
    header->moveSection(header->visualIndex(int(EArchiveColumn::Role)), 2);
    // Room for the flag in German too.
    table->setColumnWidth(int(EArchiveColumn::Qc), 130);

    // The same marks on the archive table's and the main list's own menus.
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(table, &QWidget::customContextMenuRequested, &archive,
                     [table, markControl, markPatient](const QPoint& p) {
                         QMenu popup(table);
                         popup.addAction(markControl);
                         popup.addAction(markPatient);
                         popup.exec(table->viewport()->mapToGlobal(p));
                     });
    QAction* mainControl = nullptr;
    QAction* mainPatient = nullptr;
    if (QMenu* popup = main.measurementPopup()) {
        popup->addSeparator();
        mainControl = popup->addAction(QString());
        mainPatient = popup->addAction(QString());
        auto selectedTestIds = [&main, &controller] {
            std::vector<std::string> ids;
            for (const QModelIndex& i : main.measurementView()->selectionModel()->selectedRows())
                if (i.row() >= 0 && i.row() < int(controller.MeasureList.size()) &&
                    controller.MeasureList[std::size_t(i.row())])
                    ids.push_back(controller.MeasureList[std::size_t(i.row())]->TestID);
            return ids;
        };
        QObject::connect(
            mainControl, &QAction::triggered, mainMarker,
            [mainMarker, selectedTestIds] { mainMarker->mark(true, {}, selectedTestIds()); });
        QObject::connect(
            mainPatient, &QAction::triggered, mainMarker,
            [mainMarker, selectedTestIds] { mainMarker->mark(false, {}, selectedTestIds()); });
    }

    // The main list's marks come from the same overview; it is loaded when
    // the archive is in use, and again when the list changes then.
    main.measurementModel()->setMarker(
        [qcWindow, language](const TMeasureSet& set) -> std::optional<MeasureListModel::TMark> {
            const TQcOverview& o = qcWindow->overview();
            if (o.Materials.empty()) return std::nullopt;
            const TQcListMark mark = QcListMarkOf(o, set);
            if (mark.Control)
                return MeasureListModel::TMark{
                    QColor(0x00, 0x5a, 0xb5), false,
                    q(QcRoleCellText("control", mark.Material,
                                     {langOf(language, LE_QcControl), "", ""}))};
            if (mark.Failed)
                return MeasureListModel::TMark{
                    QColor(0xb0, 0, 0), true,
                    q(ReplacePlaceholders(langOf(language, LE_QcFailedTip),
                                          {FailedControlText(*mark.Failed)}))};
            return std::nullopt;
        });
    QObject::connect(qcWindow, &TQcWindow::reloaded, &main,
                     [&main] { main.measurementModel()->repaintAll(); });
    QObject::connect(main.measurementModel(), &QAbstractItemModel::modelReset, qcWindow,
                     [&archive, qcWindow] {
                         if (archive.archiveOpen()) qcWindow->reload();
                     });

    auto applyTexts = [=, &archive] {
        auto text = [language](const TLangEntry& e) { return q(langOf(language, e)); };
        menuButton->setText(text(LE_QcTitle));
        open->setText(text(LE_QcMenu));
        materials->setText(text(LE_QcMaterialsMenu));
        markControl->setText(text(LE_QcMarkControl));
        markPatient->setText(text(LE_QcMarkPatient));
        if (mainControl) mainControl->setText(text(LE_QcMarkControl));
        if (mainPatient) mainPatient->setText(text(LE_QcMarkPatient));
        TQcFlagTexts flags;
        flags.Control = langOf(language, LE_QcControl);
        flags.Patient = langOf(language, LE_QcPatient);
        flags.Failed = langOf(language, LE_QcFailed);
        archive.model()->setQcTexts(flags, [qcWindow, language](const TArchiveRow& row) {
            const TQcOverview& o = qcWindow->overview();
            const auto c = FailedControlFor(o.Materials, o.Points, o.Violations, row.TestName,
                                            row.DeviceSerial, row.DateTime);
            return q(ReplacePlaceholders(langOf(language, LE_QcFailedTip),
                                         {c ? FailedControlText(*c) : std::string()}));
        });
        qcWindow->applyTexts();
    };
    applyTexts();
    QObject::connect(menu, &QMenu::aboutToShow, menuButton, applyTexts);
    QObject::connect(&archive, &TArchiveWindow::textsApplied, menuButton, applyTexts);
    return qcWindow;
}

}  // namespace kyvo
