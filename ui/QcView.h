// Quality control in the window: the Levey-Jennings chart of each control
// material with the Westgard violations marked at their values, the list of
// violations with the notes people acknowledged them with, the control
// materials' dialog, and marking measurements as controls or patients'.
// Everything goes through the archive window's archive calls, so that a
// slow server never holds the window.
#pragma once

#include <QAbstractTableModel>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "archive/Archive.h"
#include "report/ChartData.h"
#include "ui/QcViewModel.h"

namespace kyvo {

class TArchiveWindow;
class TMainWindow;
class TForm_Main;

// A chart of TChartData: the point under the mouse named in a tooltip, a
// click on a point reported, the wheel zooms, a drag pans, a double click
// shows everything again.
class TQcChartView : public QWidget {
    Q_OBJECT
  public:
    explicit TQcChartView(QWidget* parent = nullptr);
    void setData(TChartData data);
    const TChartData& data() const { return data_; }
    const TChartViewport& viewport() const { return view_; }

  signals:
    void pointClicked(std::int64_t measurementId);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    TChartData data_;
    TChartViewport view_;
    std::optional<QPointF> dragFrom_;
    bool dragged_ = false;
};

// The violations of one material, newest first.
class TQcViolationModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit TQcViolationModel(QObject* parent = nullptr);
    // violations of the material, acks of the archive; texts give the words.
    void setViolations(std::vector<qc::TQcViolation> violations,
                       std::vector<TQcAcknowledgement> acks);
    void setTexts(const QStringList& titles, const QString& warning, const QString& reject);
    const qc::TQcViolation* violationAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    QString cellText(int row, int column) const;

  private:
    std::vector<qc::TQcViolation> violations_;
    std::vector<TQcAcknowledgement> acks_;
    QStringList titles_;
    QString warning_ = QStringLiteral("warning");
    QString reject_ = QStringLiteral("reject");
};

// The quality control window: a material and a lot to choose, the chart,
// the violations and "Acknowledge…".
class TQcWindow : public QWidget {
    Q_OBJECT
  public:
    TQcWindow(TArchiveWindow& archive, TForm_Main& controller, ILanguage* language,
              TArchiveActor actor);

    // Loads materials, controls, violations and notes again from the archive.
    void reload();
    void applyTexts();
    // Shows the material named name (when the archive has it).
    void showMaterial(const std::string& name);
    // Asks for a note on the violation at row and keeps it in the archive.
    void acknowledgeRow(int row);
    // The note without asking (what acknowledgeRow does after the dialog).
    void acknowledge(const qc::TQcViolation& violation, const std::string& note);

    const TQcOverview& overview() const { return overview_; }
    QComboBox* materialField() const { return material_; }
    QComboBox* lotField() const { return lot_; }
    TQcChartView* chart() const { return chart_; }
    QTableView* violationView() const { return table_; }
    TQcViolationModel* violationModel() const { return model_.get(); }
    QPushButton* acknowledgeButton() const { return acknowledge_; }
    QLabel* statusLine() const { return status_; }

  signals:
    // The archive's answer is shown (for the tests and the screenshots).
    void reloaded();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::string lang(const TLangEntry& e) const;
    void fillMaterials();
    void showChosen();
    void message(const std::string& text);

    TArchiveWindow& archive_;
    TForm_Main& controller_;
    ILanguage* language_;
    TArchiveActor actor_;
    TQcOverview overview_;
    std::vector<qc::TLjSeries> lots_;
    bool loading_ = false;
    bool reloadAgain_ = false;
    bool filling_ = false;

    QLabel* materialLabel_;
    QComboBox* material_;
    QComboBox* lot_;
    TQcChartView* chart_;
    QTableView* table_;
    std::unique_ptr<TQcViolationModel> model_;
    QPushButton* acknowledge_;
    QLabel* status_;
};

// The QC parts of the window: "Quality control…" and "Control materials…"
// in the archive window, the role and QC flag columns' words, marking the
// selection of the archive window and of the main list. actor signs the
// edits. Returns the QC window (the archive window's).
TQcWindow* installQcView(TArchiveWindow& archive, TMainWindow& main, TForm_Main& controller,
                         ILanguage* language, TArchiveActor actor);

}  // namespace kyvo
