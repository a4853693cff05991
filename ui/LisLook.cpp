#include "ui/LisLook.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "app/Main.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string text(ILanguage* language, const TLangEntry& e) {
    return language ? language->Text(e) : std::string(e.Def);
}

// The archive's ISO time in the user's own short form; a text that is no
// time stays as it is.
std::string shownTime(const std::string& iso) {
    const QDateTime t = QDateTime::fromString(q(iso), Qt::ISODate);
    if (!t.isValid()) return iso;
    return QLocale().toString(t.toLocalTime(), QLocale::ShortFormat).toStdString();
}

std::string number(std::int64_t n) {
    return QLocale().toString(qlonglong(n)).toStdString();
}

const QColor kSent(0, 128, 0);
const QColor kWaiting(40, 90, 170);
const QColor kHeld(200, 0, 0);

}  // namespace

QString LisStateText(ELisState state, ILanguage* language) {
    switch (state) {
        case ELisState::Delivered:
            return q(text(language, LE_LisSent));
        case ELisState::Waiting:
            return q(text(language, LE_LisWaiting));
        case ELisState::Held:
            return q(text(language, LE_LisHeld));
        default:
            return {};
    }
}

QString LisStateTip(ELisState state, const std::string& reason, const std::string& time,
                    ILanguage* language) {
    switch (state) {
        case ELisState::Delivered:
            return q(ReplacePlaceholders(text(language, LE_LisTipSent), {shownTime(time)}));
        case ELisState::Waiting:
            if (reason.empty()) return q(text(language, LE_LisTipWaiting));
            return q(ReplacePlaceholders(text(language, LE_LisTipWaitingReason), {reason}));
        case ELisState::Held:
            return q(ReplacePlaceholders(text(language, LE_LisTipHeld), {reason}));
        default:
            return {};
    }
}

QIcon LisStateIcon(ELisState state) {
    if (state == ELisState::None) return {};
    QIcon icon;
    for (const int size : {12, 16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 12.0;
        switch (state) {
            case ELisState::Delivered: {
                QPen pen(kSent, 2 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
                p.setPen(pen);
                p.drawPolyline(QPolygonF{{2 * u, 6.5 * u}, {5 * u, 9.5 * u}, {10 * u, 2.5 * u}});
                break;
            }
            case ELisState::Waiting: {
                p.setPen(QPen(kWaiting, 1.3 * u));
                p.drawEllipse(QRectF(1 * u, 1 * u, 10 * u, 10 * u));
                p.drawLine(QPointF(6 * u, 6 * u), QPointF(6 * u, 3 * u));
                p.drawLine(QPointF(6 * u, 6 * u), QPointF(8.5 * u, 7 * u));
                break;
            }
            case ELisState::Held: {
                QPainterPath triangle;
                triangle.moveTo(6 * u, 0.5 * u);
                triangle.lineTo(11.5 * u, 11 * u);
                triangle.lineTo(0.5 * u, 11 * u);
                triangle.closeSubpath();
                p.fillPath(triangle, kHeld);
                p.setPen(QPen(Qt::white, 1.5 * u, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(6 * u, 4 * u), QPointF(6 * u, 7.5 * u));
                p.drawPoint(QPointF(6 * u, 9.5 * u));
                break;
            }
            default:
                break;
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

TLisPanelLook LisPanelLook(const std::optional<TLisCounts>& counts, bool sending,
                           const std::string& failure, ILanguage* language) {
    TLisPanelLook look;
    if (!failure.empty()) {
        look.Level = ELisPanelLevel::Failure;
        look.Text = q(ReplacePlaceholders(text(language, LE_LisPanelNoArchive), {failure}));
        look.Background = kHeld;
        look.Foreground = Qt::white;
        return look;
    }
    const TLisCounts c = counts.value_or(TLisCounts{});
    if (c.Held > 0) {
        look.Level = ELisPanelLevel::Warning;
        look.Text = q(ReplacePlaceholders(text(language, LE_LisPanelHeld),
                                          {number(c.Held), number(c.Waiting)}));
        look.Tip = q(text(language, LE_LisPanelTip));
        look.Background = kHeld;
        look.Foreground = Qt::white;
    } else if (c.Waiting > 0) {
        look.Level = ELisPanelLevel::Busy;
        look.Text = q(ReplacePlaceholders(text(language, LE_LisPanelWaiting), {number(c.Waiting)}));
    } else if (sending) {
        look.Level = ELisPanelLevel::Calm;
        look.Text = q(text(language, LE_LisPanelNothing));
    } else {
        look.Level = ELisPanelLevel::Off;
        look.Text = q(text(language, LE_LisPanelOff));
    }
    return look;
}

}  // namespace kyvo
