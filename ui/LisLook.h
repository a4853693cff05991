// How the window shows where measurements stand with the lab information
// system (LIS): the state's word, mark and hover text in the lists, and the
// status bar panel with its warning look when the LIS held something.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <optional>
#include <string>

#include "app/AppServices.h"
#include "archive/Archive.h"

namespace kyvo {

// The word of a state in the LIS column; empty for None.
QString LisStateText(ELisState state, ILanguage* language);
// The hover text: when it went, why it waits, or the LIS's words that hold
// it. time is ISO as the archive keeps it; reason the outbox's text.
QString LisStateTip(ELisState state, const std::string& reason, const std::string& time,
                    ILanguage* language);
// A mark of its own shape and colour per state (a tick, a clock, a warning
// sign), so the states differ without colour too; null for None.
QIcon LisStateIcon(ELisState state);

enum class ELisPanelLevel : std::uint8_t {
    Off,      // sending switched off and nothing in the outbox
    Calm,     // nothing waits, nothing held
    Busy,     // measurements wait
    Warning,  // the LIS held at least one: a person must look
    Failure,  // the archive's outbox cannot be read
};

struct TLisPanelLook {
    QString Text;
    QString Tip;
    ELisPanelLevel Level = ELisPanelLevel::Off;
    // Background and text colour; invalid colours keep the status bar's.
    QColor Background;
    QColor Foreground;
};

// The panel from the outbox counts (none while they are unknown), whether
// sending is on, and the failure that kept the counts from being read.
TLisPanelLook LisPanelLook(const std::optional<TLisCounts>& counts, bool sending,
                           const std::string& failure, ILanguage* language);

}  // namespace kyvo
