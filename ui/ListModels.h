// The two lists of the main window as virtual lists: a model holds no rows
// of its own, only a count, and hands out the texts of a row when the view
// paints it.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "testdata/MeasureSet.h"

namespace kyvo {

// The date cell: empty when Month is not 1..12; the date in the user's
// short date format and the time in the long time format (left out at
// exactly midnight) when the bytes form a valid date and time; otherwise
// the number text of the raw bytes.
QString measureDateText(const TDateData& d);

class MeasureListModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kColumnCount = 6;
    explicit MeasureListModel(const TMeasureList& list, QObject* parent = nullptr);

    // The row count the view shows; rows beyond the list show nothing.
    void setCount(int count);
    int count() const { return count_; }
    void setTitles(const QStringList& titles);
    // Every visible cell is fetched again.
    void repaintAll();
    void repaintRow(int row);
    // A mark before a measurement's first cell and its hover text (where it
    // stands with the LIS); none without.
    using TRowMark = std::function<std::pair<QIcon, QString>(const TMeasureSet&)>;
    void setRowMark(TRowMark mark) { mark_ = std::move(mark); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    QString cellText(int row, int column) const;

    // A mark beyond the texts (the quality control's): the colour of the
    // row's first cell, a warning sign there, and the reason as its tooltip.
    struct TMark {
        QColor Colour;
        bool Warning = false;
        QString Tip;
    };
    using TMarker = std::function<std::optional<TMark>(const TMeasureSet&)>;
    void setMarker(TMarker marker);

  private:
    const TMeasureList& list_;
    TMarker marker_;
    int count_ = 0;
    QStringList titles_;
    TRowMark mark_;
};

class ResultListModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    ResultListModel(const std::vector<const TResultSet*>& rows, QObject* parent = nullptr);

    // Four columns (no unit) in the Tobrel result file layout, else five.
    void setWithoutUnitColumn(bool without);
    bool withoutUnitColumn() const { return withoutUnit_; }
    void setCount(int count);
    int count() const { return count_; }
    void setTitles(const QStringList& titles);  // always the five titles
    void repaintAll();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    QString cellText(int row, int column) const;

  private:
    const std::vector<const TResultSet*>& rows_;
    int count_ = 0;
    bool withoutUnit_ = false;
    QStringList titles_;
};

}  // namespace kyvo
