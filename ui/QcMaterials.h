// The lab's control materials: a list of every lot (retired ones greyed),
// a form to add a material or a new lot of one, and retiring a material.
// The archive keeps them and audits every change.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <vector>

#include "app/AppServices.h"
#include "archive/Archive.h"
#include "qc/ControlMaterial.h"

namespace kyvo {

class TArchiveAccess;
class TForm_Main;

// One material's fields. A new lot keeps the name and the test, and asks
// for the rest anew.
class TQcMaterialForm : public QDialog {
    Q_OBJECT
  public:
    TQcMaterialForm(const qc::TControlMaterial& start, bool newLot, ILanguage* language,
                    QWidget* parent = nullptr);
    // The fields as a material; numbers in the user's or the C notation.
    qc::TControlMaterial material() const;
    QLineEdit* field(int row) const { return fields_[std::size_t(row)]; }
    QLabel* problemLine() const { return problem_; }
    QPushButton* okButton() const { return ok_; }

    // The rows of the form.
    enum EField { Name, Test, Result, Lot, Level, Mean, Sd, Expires, Opened, Prefix, Count_ };

  protected:
    void accept() override;  // only a material the archive can take

  private:
    std::vector<QLineEdit*> fields_;
    QLabel* problem_;
    QPushButton* ok_;
    ILanguage* language_;
};

class TQcMaterialsDialog : public QDialog {
    Q_OBJECT
  public:
    TQcMaterialsDialog(TArchiveAccess& access, TForm_Main& controller, ILanguage* language,
                       TArchiveActor actor, QWidget* parent = nullptr);

    void reload();
    // What the buttons do after their form or question: keep a material,
    // retire the one named name.
    void add(const qc::TControlMaterial& material);
    void retire(const std::string& name);

    const std::vector<qc::TControlMaterial>& materials() const { return materials_; }
    QTableWidget* table() const { return table_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* newLotButton() const { return newLot_; }
    QPushButton* retireButton() const { return retire_; }
    QLabel* statusLine() const { return status_; }

  signals:
    // The archive's answer arrived (the list, or a failure in the line).
    void reloaded();

  private:
    std::string lang(const TLangEntry& e) const;
    const qc::TControlMaterial* selected() const;
    void openForm(bool newLot);
    void showFailure(const std::string& text);

    TArchiveAccess& access_;
    TForm_Main& controller_;
    ILanguage* language_;
    TArchiveActor actor_;
    std::vector<qc::TControlMaterial> materials_;
    QTableWidget* table_;
    QLabel* status_;
    QPushButton* add_;
    QPushButton* newLot_;
    QPushButton* retire_;
};

}  // namespace kyvo
