#include "ui/ListModels.h"

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <QStyle>
#include <QTime>

namespace kyvo {

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The locale's long time format without the time zone, which a stored
// device date does not have.
const QString& longTimeFormat() {
    static const QString format = [] {
        QString f = QLocale().timeFormat(QLocale::LongFormat);
        f.remove(QLatin1Char('t'));
        return f.trimmed();
    }();
    return format;
}

const QString& shortDateFormat() {
    static const QString format = QLocale().dateFormat(QLocale::ShortFormat);
    return format;
}

}  // namespace

QString measureDateText(const TDateData& d) {
    if (d.Month < 1 || d.Month > 12) return QString();
    const QDate date(2000 + d.Year, d.Month, d.MonthDay);
    if (date.isValid() && d.Hour < 24 && d.Minutes < 60 && d.Seconds < 60) {
        const QLocale locale;
        QString text = locale.toString(date, shortDateFormat());
        if (d.Hour != 0 || d.Minutes != 0 || d.Seconds != 0)
            text += QLatin1Char(' ') +
                    locale.toString(QTime(d.Hour, d.Minutes, d.Seconds), longTimeFormat());
        return text;
    }
    return fromUtf8(dateDataToNumberText(d));
}

MeasureListModel::MeasureListModel(const TMeasureList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

void MeasureListModel::setCount(int count) {
    count = std::max(count, 0);
    if (count == count_) return;
    beginResetModel();
    count_ = count;
    endResetModel();
}

void MeasureListModel::setTitles(const QStringList& titles) {
    titles_ = titles;
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

void MeasureListModel::repaintAll() {
    if (count_ > 0) emit dataChanged(index(0, 0), index(count_ - 1, kColumnCount - 1));
}

void MeasureListModel::repaintRow(int row) {
    if (row >= 0 && row < count_) emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

int MeasureListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_;
}

int MeasureListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QString MeasureListModel::cellText(int row, int column) const {
    if (row < 0 || row >= int(list_.size()) || !list_[std::size_t(row)]) return QString();
    const TMeasureSet& m = *list_[std::size_t(row)];
    switch (column) {
        case 0:
            return fromUtf8(m.TestID);
        case 1:
            return fromUtf8(m.TestName);
        case 2:
            return fromUtf8(m.LotNr);
        case 3:
            return fromUtf8(m.Distr_Manu);
        case 4:
            return measureDateText(m.DateTime);
        case 5:
            return fromUtf8(m.UserComment);
        default:
            return QString();
    }
}

QVariant MeasureListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return cellText(index.row(), index.column());
    if (index.column() != 0 || index.row() >= int(list_.size()) ||
        !list_[std::size_t(index.row())])
        return {};
    if (role != Qt::ForegroundRole && role != Qt::ToolTipRole && role != Qt::DecorationRole)
        return {};
    const TMeasureSet& set = *list_[std::size_t(index.row())];
    // Quality control and the LIS both mark the first cell: the QC warning
    // goes first, the hover text names both.
    const std::optional<TMark> qc = marker_ ? marker_(set) : std::nullopt;
    const std::pair<QIcon, QString> lis = mark_ ? mark_(set) : std::pair<QIcon, QString>{};
    if (role == Qt::ForegroundRole) return qc ? QVariant(qc->Colour) : QVariant();
    if (role == Qt::ToolTipRole) {
        QStringList tips;
        if (qc && !qc->Tip.isEmpty()) tips << qc->Tip;
        if (!lis.second.isEmpty()) tips << lis.second;
        return tips.isEmpty() ? QVariant() : QVariant(tips.join(QLatin1Char('\n')));
    }
    if (qc && qc->Warning) return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return lis.first.isNull() ? QVariant() : QVariant(lis.first);
}

void MeasureListModel::setMarker(TMarker marker) {
    marker_ = std::move(marker);
    repaintAll();
}

QVariant MeasureListModel::headerData(int section, Qt::Orientation o, int role) const {
    // The tooltip gives the whole title of a header too narrow for it.
    if (o == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::ToolTipRole) &&
        section >= 0 && section < titles_.size())
        return titles_[section];
    return QAbstractTableModel::headerData(section, o, role);
}

ResultListModel::ResultListModel(const std::vector<const TResultSet*>& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows) {}

void ResultListModel::setWithoutUnitColumn(bool without) {
    if (without == withoutUnit_) return;
    beginResetModel();
    withoutUnit_ = without;
    endResetModel();
}

void ResultListModel::setCount(int count) {
    count = std::max(count, 0);
    beginResetModel();
    count_ = count;
    endResetModel();
}

void ResultListModel::setTitles(const QStringList& titles) {
    titles_ = titles;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void ResultListModel::repaintAll() {
    if (count_ > 0) emit dataChanged(index(0, 0), index(count_ - 1, columnCount() - 1));
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_;
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (withoutUnit_ ? 4 : 5);
}

QString ResultListModel::cellText(int row, int column) const {
    if (row < 0 || row >= int(rows_.size()) || !rows_[std::size_t(row)]) return QString();
    const TResultSet& r = *rows_[std::size_t(row)];
    if (withoutUnit_ && column >= 3) ++column;
    switch (column) {
        case 0:
            return fromUtf8(r.Validity);
        case 1:
            return fromUtf8(r.ResultName);
        case 2:
            return fromUtf8(r.ResultValue);
        case 3:
            return fromUtf8(r.UnitName);
        case 4:
            return fromUtf8(r.ClassName);
        default:
            return QString();
    }
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return cellText(index.row(), index.column());
}

QVariant ResultListModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::ToolTipRole)) {
        const int title = withoutUnit_ && section >= 3 ? section + 1 : section;
        if (title >= 0 && title < titles_.size()) return titles_[title];
    }
    return QAbstractTableModel::headerData(section, o, role);
}

}  // namespace kyvo
