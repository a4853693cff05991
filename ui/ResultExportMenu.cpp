#include "ui/ResultExportMenu.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <algorithm>

#include "app/Main.h"
#include "files/AtomicFile.h"
#include "files/ResultExport.h"
#include "report/MeasureReport.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// "Description|*.ext" as Qt's "Description (*.ext)".
QString qtFilter(const std::string& filter) {
    const QStringList parts = q(filter).split(u'|');
    return parts.size() >= 2 ? parts[0] + QStringLiteral(" (") + parts[1] + QStringLiteral(")")
                             : q(filter);
}

}  // namespace

TResultExport::TResultExport(TMainWindow& window, TForm_Main& controller, ILanguage* language)
    : QObject(&window), window_(window), controller_(controller), language_(language) {
    QAction* mainMenuAction = window.action(EControl::Menu_Main);
    QMenu* menu = mainMenuAction ? mainMenuAction->menu() : nullptr;
    if (!menu) return;
    menu->addSeparator();
    report_ = menu->addAction(QString());
    print_ = menu->addAction(QString());
    export_ = menu->addAction(QString());
    connect(report_, &QAction::triggered, this, [this] { chooseAndWriteReport(); });
    connect(print_, &QAction::triggered, this, [this] { printReport(); });
    connect(export_, &QAction::triggered, this, [this] { chooseAndExport(); });
    connect(menu, &QMenu::aboutToShow, this, [this] { updateTexts(); });
    updateTexts();
}

std::string TResultExport::text(const TLangEntry& e) const {
    return language_ ? language_->Text(e) : std::string(e.Def);
}

void TResultExport::updateTexts() {
    const bool any = !controller_.MeasureList.empty();
    const std::pair<QAction*, const TLangEntry*> items[] = {
        {report_, &LE_ExportReportPdf}, {print_, &LE_PrintReport}, {export_, &LE_ExportData}};
    for (const auto& [a, e] : items) {
        if (!a) continue;
        a->setText(q(text(*e)));
        a->setEnabled(any);
    }
}

std::vector<const TMeasureSet*> TResultExport::targets() const {
    const TMeasureList& list = controller_.MeasureList;
    std::vector<int> rows;
    if (auto* sel = window_.measurementView()->selectionModel())
        for (const QModelIndex& i : sel->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    std::vector<const TMeasureSet*> sets;
    for (int r : rows)
        if (r >= 0 && r < int(list.size())) sets.push_back(list[std::size_t(r)].get());
    if (sets.empty())
        for (const auto& m : list) sets.push_back(m.get());
    return sets;
}

TReportInfo TResultExport::reportInfo() const {
    TReportInfo info;
    info.ProgramName = "Kyvo Data Reader";
    info.ProgramVersion = ProgramVersionString();
    // Known only while a device is connected.
    if (controller_.State().Current != stDisconnected) {
        info.DeviceSerial = controller_.SerialText();
        info.DeviceFirmware = controller_.FirmwareText();
    }
    ILanguage* language = language_;
    info.Text = [language](const TLangEntry& e) {
        return language ? language->Text(e) : std::string(e.Def);
    };
    return info;
}

void TResultExport::showError(const std::string& message) {
    TMessageButtons buttons;
    buttons.OK = text(LE_OK);
    window_.ShowMessageBox(message, "", EMsgStyle::OK, buttons);
}

QString TResultExport::startFolder() const {
    const QString dir = q(controller_.DefaultDir);
    return !dir.isEmpty() && QDir(dir).exists() ? dir : QDir::homePath();
}

bool TResultExport::writeReport(const QString& path) {
    return writeReport(path, targets());
}

bool TResultExport::writeReport(const QString& path, const std::vector<const TMeasureSet*>& sets) {
    if (sets.empty()) {
        showError(text(LE_NothingToExport));
        return false;
    }
    std::string error;
    if (!writeMeasureReportPdf(path, sets, reportInfo(), reportPageSize(QLocale()), error)) {
        showError(text(LE_FileWriteError) + path.toStdString() + "\n" + error);
        return false;
    }
    return true;
}

bool TResultExport::exportFile(const QString& path, EExportKind kind) {
    return exportFile(path, kind, targets());
}

bool TResultExport::exportFile(const QString& path, EExportKind kind,
                               const std::vector<const TMeasureSet*>& sets) {
    if (sets.empty()) {
        showError(text(LE_NothingToExport));
        return false;
    }
    const std::string bytes =
        kind == EExportKind::Json
            ? ExportJson(sets, {"Kyvo Data Reader", ProgramVersionString()})
            : ExportCsv(sets,
                        kind == EExportKind::CsvLines ? ECsvForm::LineRows : ECsvForm::ResultRows);
    std::string error;
    if (!writeFileAtomically(path.toStdString(), bytes, &error)) {
        showError(text(LE_FileWriteError) + "\n" + error);
        return false;
    }
    return true;
}

void TResultExport::chooseAndWriteReport() {
    chooseAndWriteReport(targets(), &window_);
}

void TResultExport::chooseAndWriteReport(const std::vector<const TMeasureSet*>& sets,
                                         QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qtFilter(text(LE_PdfFileFilter)));
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.setDirectory(startFolder());
    dialog.selectFile(QStringLiteral("report.pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    writeReport(dialog.selectedFiles().first(), sets);
}

void TResultExport::printReport() {
    const auto sets = targets();
    if (sets.empty()) return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(reportPageSize(QLocale()));
    printer.setPageMargins(QMarginsF(15, 15, 15, 12), QPageLayout::Millimeter);
    printer.setDocName(q(text(LE_MeasurementReport)));
    QPrintDialog dialog(&printer, &window_);
    if (dialog.exec() != QDialog::Accepted) return;
    if (!paintMeasureReport(printer, sets, reportInfo(), QDateTime::currentDateTime()))
        showError(text(LE_FileWriteError) + printer.printerName().toStdString());
}

void TResultExport::chooseAndExport() {
    chooseAndExport(targets(), &window_);
}

void TResultExport::chooseAndExport(const std::vector<const TMeasureSet*>& sets, QWidget* parent) {
    const QString filters[] = {qtFilter(text(LE_CsvResultsFilter)),
                               qtFilter(text(LE_CsvLinesFilter)),
                               qtFilter(text(LE_JsonFileFilter))};
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({filters[0], filters[1], filters[2]});
    dialog.setDirectory(startFolder());
    dialog.selectFile(QStringLiteral("measurements.csv"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& f) {
        dialog.setDefaultSuffix(f == filters[2] ? QStringLiteral("json") : QStringLiteral("csv"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString chosen = dialog.selectedNameFilter();
    const EExportKind kind = chosen == filters[2]   ? EExportKind::Json
                             : chosen == filters[1] ? EExportKind::CsvLines
                                                    : EExportKind::CsvResults;
    exportFile(dialog.selectedFiles().first(), kind, sets);
}

}  // namespace kyvo
