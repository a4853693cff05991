#include <QGuiApplication>
#include <QLocale>
#include <memory>

#include "report/MeasureReport.h"
#include "report/ReportInfo.h"
#include "report/SummaryReport.h"

namespace kyvo {

namespace {
QtMessageHandler previousHandler = nullptr;

// A program run from a script has no session runtime folder; Qt's remark
// about it is no concern of the report's reader.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths:"))) return;
    if (previousHandler) previousHandler(type, context, message);
}

// No display is needed, nor wanted: a report from a script must not depend
// on the session it runs in. Null when an application runs already.
std::unique_ptr<QGuiApplication> offscreenApplication() {
    if (QGuiApplication::instance()) return nullptr;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    previousHandler = qInstallMessageHandler(quietHandler);
    static int argc = 1;
    static char name[] = "kyvo-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

bool WriteReportPdfOffscreen(const std::vector<const TMeasureSet*>& sets, const TReportInfo& info,
                             const std::string& path, std::string& error) {
    const auto app = offscreenApplication();
    return writeMeasureReportPdf(QString::fromStdString(path), sets, info,
                                 reportPageSize(QLocale::system()), error);
}

bool WriteSummaryReportPdfOffscreen(const TSummaryReport& report, const TReportInfo& info,
                                    const std::string& path, std::string& error) {
    const auto app = offscreenApplication();
    return writeSummaryReportPdf(QString::fromStdString(path), report, info,
                                 reportPageSize(QLocale::system()), error);
}

}  // namespace kyvo
