#include "ui/QcMaterials.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

#include "app/Main.h"
#include "ui/ArchiveModel.h"
#include "ui/FormMessageBox.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string s(const QString& text) {
    return text.trimmed().toUtf8().toStdString();
}

// A number as the user writes it ("1,5" in German) or as C does ("1.5");
// not a number otherwise, which the material's check refuses.
double number(const QString& text) {
    bool ok = false;
    const QString t = text.trimmed();
    double v = QLocale().toDouble(t, &ok);
    if (!ok) v = QLocale::c().toDouble(t, &ok);
    return ok ? v : std::numeric_limits<double>::quiet_NaN();
}

QString numberText(double v) {
    return QLocale().toString(v, 'g', 10);
}

}  // namespace

// ---------------------------------------------------------------------------
// the form

TQcMaterialForm::TQcMaterialForm(const qc::TControlMaterial& start, bool newLot,
                                 ILanguage* language, QWidget* parent)
    : QDialog(parent), language_(language) {
    auto text = [language](const TLangEntry& e) {
        return q(language ? language->Text(e) : std::string(e.Def));
    };
    setWindowTitle(text(newLot ? LE_QcNewLot : LE_QcAdd));
    const TLangEntry* labels[Count_] = {
        &LE_QcName, &LE_ArchiveTest, &LE_QcResultName, &LE_ArchiveLot, &LE_QcLevel,
        &LE_QcMean, &LE_QcSd,        &LE_QcExpires,    &LE_QcOpened,   &LE_QcPatientIdPrefix};
    auto* form = new QFormLayout;
    for (int i = 0; i < Count_; ++i) {
        auto* edit = new QLineEdit(this);
        fields_.push_back(edit);
        form->addRow(text(*labels[i]), edit);
    }
    for (int i : {Expires, Opened}) fields_[std::size_t(i)]->setPlaceholderText("YYYY-MM-DD");
    fields_[Name]->setText(q(start.Name));
    fields_[Test]->setText(q(start.Test));
    fields_[Result]->setText(q(start.Result));
    fields_[Level]->setText(QString::number(start.Level));
    fields_[Prefix]->setText(q(start.PatientIdPrefix));
    if (newLot) {
        // The same material: its name stays, the new lot brings its own
        // targets and dates from its package insert.
        fields_[Name]->setReadOnly(true);
        fields_[Lot]->setFocus();
    } else {
        fields_[Lot]->setText(q(start.Lot));
        if (start.Sd > 0) {
            fields_[Mean]->setText(numberText(start.Mean));
            fields_[Sd]->setText(numberText(start.Sd));
        }
        fields_[Expires]->setText(q(start.Expires));
        fields_[Opened]->setText(q(start.Opened));
    }
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00000;"));
    ok_ = new QPushButton(text(LE_OK), this);
    ok_->setDefault(true);
    auto* cancel = new QPushButton(text(LE_Cancel), this);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addLayout(buttons);
}

qc::TControlMaterial TQcMaterialForm::material() const {
    qc::TControlMaterial m;
    m.Name = s(fields_[Name]->text());
    m.Test = s(fields_[Test]->text());
    m.Result = s(fields_[Result]->text());
    m.Lot = s(fields_[Lot]->text());
    bool ok = false;
    m.Level = fields_[Level]->text().trimmed().toInt(&ok);
    if (!ok) m.Level = 0;
    m.Mean = number(fields_[Mean]->text());
    m.Sd = number(fields_[Sd]->text());
    m.Expires = s(fields_[Expires]->text());
    m.Opened = s(fields_[Opened]->text());
    m.PatientIdPrefix = s(fields_[Prefix]->text());
    return m;
}

void TQcMaterialForm::accept() {
    const std::string problem = qc::CheckMaterial(material());
    if (!problem.empty()) {
        problem_->setText(q(language_ ? language_->Text(LE_QcMaterialInvalid)
                                      : std::string(LE_QcMaterialInvalid.Def)) +
                          QStringLiteral("\n") + q(problem));
        return;
    }
    QDialog::accept();
}

// ---------------------------------------------------------------------------
// the list

TQcMaterialsDialog::TQcMaterialsDialog(TArchiveAccess& access, TForm_Main& controller,
                                       ILanguage* language, TArchiveActor actor, QWidget* parent)
    : QDialog(parent),
      access_(access),
      controller_(controller),
      language_(language),
      actor_(std::move(actor)) {
    setWindowTitle(q(lang(LE_QcMaterialsTitle)));
    table_ = new QTableWidget(this);
    const TLangEntry* titles[] = {
        &LE_QcName,   &LE_ArchiveTest, &LE_QcResultName, &LE_ArchiveLot, &LE_QcLevel,
        &LE_QcMean,   &LE_QcSd,        &LE_QcExpires,    &LE_QcOpened,   &LE_QcPatientIdPrefix,
        &LE_QcRetired};
    table_->setColumnCount(int(std::size(titles)));
    QStringList headers;
    for (const TLangEntry* t : titles) headers << q(lang(*t));
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    add_ = new QPushButton(q(lang(LE_QcAdd)), this);
    newLot_ = new QPushButton(q(lang(LE_QcNewLot)), this);
    retire_ = new QPushButton(q(lang(LE_QcRetire)), this);
    auto* close = new QPushButton(q(lang(LE_Close)), this);
    connect(add_, &QPushButton::clicked, this, [this] { openForm(false); });
    connect(newLot_, &QPushButton::clicked, this, [this] { openForm(true); });
    connect(retire_, &QPushButton::clicked, this, [this] {
        const qc::TControlMaterial* m = selected();
        if (!m) return;
        const std::string name = m->Name;
        TForm_OwnMessageBox box(this);
        box.SetMessage(QString(), q(ReplacePlaceholders(lang(LE_QcAskRetire), {name})), msYesNo,
                       q(lang(LE_Yes)), q(lang(LE_No)), QString());
        int answer = mrNo;
        controller_.RunPaused([&] { answer = box.exec(); });
        if (answer == mrYes) retire(name);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto update = [this] {
        const qc::TControlMaterial* m = selected();
        newLot_->setEnabled(m != nullptr);
        retire_->setEnabled(m && m->Retired.empty());
    };
    connect(table_, &QTableWidget::itemSelectionChanged, this, update);
    connect(this, &TQcMaterialsDialog::reloaded, this, update);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(newLot_);
    buttons->addWidget(retire_);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    resize(980, 420);
    update();
    reload();
}

std::string TQcMaterialsDialog::lang(const TLangEntry& e) const {
    return language_ ? language_->Text(e) : std::string(e.Def);
}

const qc::TControlMaterial* TQcMaterialsDialog::selected() const {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    if (items.isEmpty()) return nullptr;
    const int row = items.front()->row();
    return row >= 0 && row < int(materials_.size()) ? &materials_[std::size_t(row)] : nullptr;
}

void TQcMaterialsDialog::reload() {
    access_.Run<std::vector<qc::TControlMaterial>>(
        [](IArchive& a) { return a.Materials(); },
        [this](std::vector<qc::TControlMaterial> materials) {
            materials_ = std::move(materials);
            table_->setRowCount(int(materials_.size()));
            for (int r = 0; r < int(materials_.size()); ++r) {
                const qc::TControlMaterial& m = materials_[std::size_t(r)];
                const QString cells[] = {q(m.Name),
                                         q(m.Test),
                                         q(m.Result),
                                         q(m.Lot),
                                         QString::number(m.Level),
                                         numberText(m.Mean),
                                         numberText(m.Sd),
                                         q(m.Expires),
                                         q(m.Opened),
                                         q(m.PatientIdPrefix),
                                         q(m.Retired.substr(0, 10))};
                for (int c = 0; c < int(std::size(cells)); ++c) {
                    auto* item = new QTableWidgetItem(cells[c]);
                    if (!m.Retired.empty()) item->setForeground(Qt::gray);
                    table_->setItem(r, c, item);
                }
            }
            table_->resizeColumnsToContents();
            emit reloaded();
        },
        [this](const TArchiveFailure& f) {
            showFailure(f.Message);
            emit reloaded();
        });
}

void TQcMaterialsDialog::showFailure(const std::string& text) {
    status_->setStyleSheet(QStringLiteral("color: #b00000;"));
    status_->setText(q(ReplacePlaceholders(lang(LE_ArchiveError), {text})));
}

void TQcMaterialsDialog::openForm(bool newLot) {
    const qc::TControlMaterial* m = selected();
    if (newLot && !m) return;
    TQcMaterialForm form(m && newLot ? *m : qc::TControlMaterial{}, newLot, language_, this);
    int result = mrCancel;
    controller_.RunPaused([&] { result = form.exec(); });
    if (result == QDialog::Accepted) add(form.material());
}

void TQcMaterialsDialog::add(const qc::TControlMaterial& material) {
    status_->clear();
    access_.Run<bool>(
        [material, actor = actor_](IArchive& a) {
            a.AddMaterial(material, actor);
            return true;
        },
        [this](bool) { reload(); },
        [this](const TArchiveFailure& f) {
            showFailure(f.Message);
            emit reloaded();
        });
}

void TQcMaterialsDialog::retire(const std::string& name) {
    status_->clear();
    access_.Run<bool>(
        [name, actor = actor_](IArchive& a) {
            a.RetireMaterial(name, actor);
            return true;
        },
        [this](bool) { reload(); },
        [this](const TArchiveFailure& f) {
            showFailure(f.Message);
            emit reloaded();
        });
}

}  // namespace kyvo
