// The ways results leave the window besides the result files: a PDF report,
// printing, and CSV or JSON for spreadsheets and scripts. They act on the
// selected measurements, or on all when none is selected.
#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "report/ReportInfo.h"
#include "ui/MainWindow.h"

namespace kyvo {

class TForm_Main;

enum class EExportKind { CsvResults, CsvLines, Json };

class TResultExport : public QObject {
    Q_OBJECT
  public:
    // Adds "Export report (PDF)…", "Print…" and "Export…" to the window's
    // main menu; their texts follow the language each time it opens.
    TResultExport(TMainWindow& window, TForm_Main& controller, ILanguage* language);

    // The measurements the commands act on, in list order.
    std::vector<const TMeasureSet*> targets() const;

    // What the menu items do once a file is chosen; false after a message
    // naming the failure.
    bool writeReport(const QString& path);
    bool exportFile(const QString& path, EExportKind kind);
    // The same for given measurements (the archive's), with the file dialog
    // in front of parent.
    bool writeReport(const QString& path, const std::vector<const TMeasureSet*>& sets);
    bool exportFile(const QString& path, EExportKind kind,
                    const std::vector<const TMeasureSet*>& sets);
    void chooseAndWriteReport(const std::vector<const TMeasureSet*>& sets, QWidget* parent);
    void chooseAndExport(const std::vector<const TMeasureSet*>& sets, QWidget* parent);

    QAction* reportAction() const { return report_; }
    QAction* printAction() const { return print_; }
    QAction* exportAction() const { return export_; }

  private:
    void updateTexts();
    void chooseAndWriteReport();
    void printReport();
    void chooseAndExport();
    TReportInfo reportInfo() const;
    std::string text(const TLangEntry& e) const;
    void showError(const std::string& message);
    QString startFolder() const;

    TMainWindow& window_;
    TForm_Main& controller_;
    ILanguage* language_;
    QAction* report_ = nullptr;
    QAction* print_ = nullptr;
    QAction* export_ = nullptr;
};

}  // namespace kyvo
