// The LIS connection in the window's settings: where the LIS listens, TLS
// with its certificate files, the MSH names, test or production, automatic
// or on request, the acknowledgement time-out, the code mapping file and
// whether control measurements go too. Kept in the user settings' [LIS].
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <functional>

#include "app/AppServices.h"
#include "files/Settings.h"

namespace kyvo {

class TLisSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TLisSettingsDialog(ILanguage* language, QWidget* parent = nullptr);

    void setSettings(const TLisSendSettings& settings);
    // What the fields hold; items the dialog does not show keep the values
    // setSettings gave.
    TLisSendSettings settings() const;
    // Why the fields cannot be taken as they are (empty: they can). A LIS
    // that is switched off may stay incomplete.
    QString problem() const;

    // OK takes the fields unless problem() says why not (it is shown).
    void accept() override;

    QCheckBox* sendBox() const { return send_; }
    QLineEdit* hostField() const { return host_; }
    QSpinBox* portField() const { return port_; }
    QCheckBox* tlsBox() const { return tls_; }
    QLineEdit* caField() const { return ca_; }
    QLineEdit* certField() const { return cert_; }
    QLineEdit* keyField() const { return key_; }
    QLineEdit* serverNameField() const { return serverName_; }
    QLineEdit* sendingApplicationField() const { return sendingApp_; }
    QLineEdit* sendingFacilityField() const { return sendingFacility_; }
    QLineEdit* receivingApplicationField() const { return receivingApp_; }
    QLineEdit* receivingFacilityField() const { return receivingFacility_; }
    QComboBox* processingBox() const { return processing_; }
    QCheckBox* automaticBox() const { return automatic_; }
    QSpinBox* ackTimeoutField() const { return ackTimeout_; }
    QLineEdit* mappingField() const { return mapping_; }
    QCheckBox* controlsBox() const { return controls_; }
    QLabel* problemLine() const { return problem_; }
    QPushButton* okButton() const { return ok_; }

  private:
    QString lang(const TLangEntry& e) const;
    QLineEdit* fileField(QGridLayout* grid, int row, const TLangEntry& label);
    void enableFields();

    ILanguage* language_;
    TLisSendSettings kept_;
    QCheckBox* send_;
    QLineEdit* host_;
    QSpinBox* port_;
    QCheckBox* tls_;
    QLineEdit* ca_;
    QLineEdit* cert_;
    QLineEdit* key_;
    QLineEdit* serverName_;
    QLineEdit* sendingApp_;
    QLineEdit* sendingFacility_;
    QLineEdit* receivingApp_;
    QLineEdit* receivingFacility_;
    QComboBox* processing_;
    QCheckBox* automatic_;
    QSpinBox* ackTimeout_;
    QLineEdit* mapping_;
    QCheckBox* controls_;
    QLabel* problem_;
    QPushButton* ok_;
    QList<QWidget*> connectionFields_;
    QList<QWidget*> tlsFields_;
};

// Shows the dialog over parent with the user's [LIS] items; OK stores them
// (in memory, saved with the settings at program end) and returns true.
// run runs the modal dialog (the controller pauses its timers around it).
bool EditLisSettings(QWidget* parent, TConfigFile& user, ILanguage* language,
                     const std::function<void(const std::function<void()>&)>& run = {});

}  // namespace kyvo
