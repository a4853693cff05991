#include "ui/LisSettingsDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string s(const QLineEdit* e) {
    return e->text().trimmed().toUtf8().toStdString();
}

}  // namespace

TLisSettingsDialog::TLisSettingsDialog(ILanguage* language, QWidget* parent)
    : QDialog(parent), language_(language) {
    setWindowTitle(lang(LE_LisSettingsTitle));
    auto* layout = new QVBoxLayout(this);
    send_ = new QCheckBox(lang(LE_LisEnabled), this);
    layout->addWidget(send_);

    auto* grid = new QGridLayout;
    int row = 0;
    auto label = [&](const TLangEntry& e) { grid->addWidget(new QLabel(lang(e), this), row, 0); };
    auto line = [&](const TLangEntry& e) {
        label(e);
        auto* edit = new QLineEdit(this);
        grid->addWidget(edit, row++, 1, 1, 2);
        return edit;
    };
    host_ = line(LE_LisHost);
    label(LE_LisPort);
    port_ = new QSpinBox(this);
    port_->setRange(1, 65535);
    grid->addWidget(port_, row++, 1);
    tls_ = new QCheckBox(lang(LE_LisTls), this);
    grid->addWidget(tls_, row++, 0, 1, 3);
    ca_ = fileField(grid, row++, LE_LisCaFile);
    cert_ = fileField(grid, row++, LE_LisCertFile);
    key_ = fileField(grid, row++, LE_LisKeyFile);
    serverName_ = line(LE_LisServerName);
    sendingApp_ = line(LE_LisSendingApplication);
    sendingFacility_ = line(LE_LisSendingFacility);
    receivingApp_ = line(LE_LisReceivingApplication);
    receivingFacility_ = line(LE_LisReceivingFacility);
    label(LE_LisProcessing);
    processing_ = new QComboBox(this);
    processing_->addItem(lang(LE_LisProduction), QStringLiteral("P"));
    processing_->addItem(lang(LE_LisTestSystem), QStringLiteral("T"));
    grid->addWidget(processing_, row++, 1);
    automatic_ = new QCheckBox(lang(LE_LisAutomatic), this);
    grid->addWidget(automatic_, row++, 0, 1, 3);
    label(LE_LisAckTimeout);
    ackTimeout_ = new QSpinBox(this);
    ackTimeout_->setRange(1, 3600);
    grid->addWidget(ackTimeout_, row++, 1);
    mapping_ = fileField(grid, row++, LE_LisMappingFile);
    controls_ = new QCheckBox(lang(LE_LisSendControls), this);
    grid->addWidget(controls_, row++, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    problem_->hide();
    layout->addWidget(problem_);

    auto* buttons = new QHBoxLayout;
    ok_ = new QPushButton(lang(LE_OK), this);
    auto* cancel = new QPushButton(lang(LE_Cancel), this);
    ok_->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    connectionFields_ = {host_,
                         port_,
                         tls_,
                         sendingApp_,
                         sendingFacility_,
                         receivingApp_,
                         receivingFacility_,
                         processing_,
                         automatic_,
                         ackTimeout_,
                         mapping_,
                         controls_};
    tlsFields_ = {ca_, cert_, key_, serverName_};
    connect(send_, &QCheckBox::toggled, this, [this] { enableFields(); });
    connect(tls_, &QCheckBox::toggled, this, [this] { enableFields(); });
    setSettings(TLisSendSettings{});
    resize(560, sizeHint().height());
}

QString TLisSettingsDialog::lang(const TLangEntry& e) const {
    return q(language_ ? language_->Text(e) : std::string(e.Def));
}

QLineEdit* TLisSettingsDialog::fileField(QGridLayout* grid, int row, const TLangEntry& label) {
    grid->addWidget(new QLabel(lang(label), this), row, 0);
    auto* edit = new QLineEdit(this);
    auto* browse = new QPushButton(lang(LE_LisBrowse), this);
    browse->setAutoDefault(false);
    grid->addWidget(edit, row, 1);
    grid->addWidget(browse, row, 2);
    const QString title = lang(label);
    connect(browse, &QPushButton::clicked, this, [this, edit, title] {
        const QString start = edit->text().isEmpty() ? QString() : QFileInfo(edit->text()).path();
        const QString chosen = QFileDialog::getOpenFileName(this, title, start);
        if (!chosen.isEmpty()) edit->setText(chosen);
    });
    // The button goes with its field when that is switched off.
    edit->setProperty("browse", QVariant::fromValue(static_cast<QObject*>(browse)));
    return edit;
}

void TLisSettingsDialog::enableFields() {
    const bool on = send_->isChecked();
    for (QWidget* w : connectionFields_) w->setEnabled(on);
    for (QWidget* w : tlsFields_) {
        const bool tls = on && tls_->isChecked();
        w->setEnabled(tls);
        if (auto* b = qobject_cast<QWidget*>(w->property("browse").value<QObject*>()))
            b->setEnabled(tls);
    }
    if (auto* b = qobject_cast<QWidget*>(mapping_->property("browse").value<QObject*>()))
        b->setEnabled(on);
}

void TLisSettingsDialog::setSettings(const TLisSendSettings& v) {
    kept_ = v;
    send_->setChecked(v.Send);
    host_->setText(q(v.Host));
    port_->setValue(v.Port >= 1 && v.Port <= 65535 ? v.Port : 2575);
    tls_->setChecked(v.Tls);
    ca_->setText(q(v.CaFile));
    cert_->setText(q(v.CertFile));
    key_->setText(q(v.KeyFile));
    serverName_->setText(q(v.ServerName));
    sendingApp_->setText(q(v.SendingApplication));
    sendingFacility_->setText(q(v.SendingFacility));
    receivingApp_->setText(q(v.ReceivingApplication));
    receivingFacility_->setText(q(v.ReceivingFacility));
    processing_->setCurrentIndex(v.ProcessingId == "T" ? 1 : 0);
    automatic_->setChecked(v.Automatic);
    ackTimeout_->setValue(v.AckTimeoutSeconds);
    mapping_->setText(q(v.MappingFile));
    controls_->setChecked(v.SendControls);
    enableFields();
}

TLisSendSettings TLisSettingsDialog::settings() const {
    TLisSendSettings v = kept_;
    v.Send = send_->isChecked();
    v.Host = s(host_);
    v.Port = port_->value();
    v.Tls = tls_->isChecked();
    v.CaFile = s(ca_);
    v.CertFile = s(cert_);
    v.KeyFile = s(key_);
    v.ServerName = s(serverName_);
    v.SendingApplication = s(sendingApp_);
    v.SendingFacility = s(sendingFacility_);
    v.ReceivingApplication = s(receivingApp_);
    v.ReceivingFacility = s(receivingFacility_);
    v.ProcessingId = processing_->currentData().toString().toStdString();
    v.Automatic = automatic_->isChecked();
    v.AckTimeoutSeconds = ackTimeout_->value();
    v.MappingFile = s(mapping_);
    v.SendControls = controls_->isChecked();
    return v;
}

QString TLisSettingsDialog::problem() const {
    const TLisSendSettings v = settings();
    if (!v.Send) return {};
    if (v.Host.empty() || v.Port < 1 || v.Port > 65535) return lang(LE_LisSettingsIncomplete);
    // Never a silent fall back to plain text: TLS without the authority to
    // check the server against is no TLS the lab asked for.
    if (v.Tls && (v.CaFile.empty() || (v.CertFile.empty() != v.KeyFile.empty())))
        return lang(LE_LisTlsIncomplete);
    return {};
}

void TLisSettingsDialog::accept() {
    const QString why = problem();
    problem_->setText(why);
    problem_->setVisible(!why.isEmpty());
    if (why.isEmpty()) QDialog::accept();
}

bool EditLisSettings(QWidget* parent, TConfigFile& user, ILanguage* language,
                     const std::function<void(const std::function<void()>&)>& run) {
    TLisSettingsDialog dialog(language, parent);
    dialog.setSettings(ReadLisSettings(user));
    int result = QDialog::Rejected;
    const auto exec = [&] { result = dialog.exec(); };
    if (run)
        run(exec);
    else
        exec();
    if (result != QDialog::Accepted) return false;
    StoreLisSettings(user, dialog.settings());
    return true;
}

}  // namespace kyvo
