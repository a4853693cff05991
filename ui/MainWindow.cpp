#include "ui/MainWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStyleFactory>

#include "files/Settings.h"
#include "report/MeasureReport.h"
#include "ui/FormMessageBox.h"
#include "ui/FormSelect.h"
#include "ui/FormTestCfgList.h"
#include "ui/InputQuery.h"
#include "ui/ListSort.h"
#include "ui/ListViewLook.h"
#include "ui/MainWindowLayout.h"

namespace kyvo {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string s(const QString& q) {
    return q.toUtf8().toStdString();
}

QColor panelColour(EPanelColour c, const QPalette& pal) {
    switch (c) {
        case EPanelColour::Green:
            return QColor(0, 128, 0);
        case EPanelColour::DarkYellow:
            return QColor(192, 192, 0);
        case EPanelColour::Red:
            return QColor(255, 0, 0);
        default:
            return pal.color(QPalette::Button);
    }
}

}  // namespace

TMainWindow::TMainWindow(QWidget* parent) : QMainWindow(parent) {
    // System menu and minimise button, no maximise button.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ScaleFactor = (screen() ? screen()->logicalDotsPerInch() : 96.0) / 96.0;
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    measModel_ = std::make_unique<MeasureListModel>(*list_);
    resModel_ = std::make_unique<ResultListModel>(SelResultList);
    buildControls();
    buildMenus();

    statusBar_ = new TStatusBar(this);
    setStatusBar(statusBar_);

    setMinimumSize(layout::minimumWindowSize(ScaleFactor));
    resize(kDefaultWindowWidth, kDefaultWindowHeight);
    resizeSettle_.setSingleShot(true);
    resizeSettle_.setInterval(kResizeSettleMs);
    connect(&resizeSettle_, &QTimer::timeout, this, [this] { finishResize(); });
    Constructed = true;
    applyWindowTexts();
    layoutTopRows();
    layoutLists();
    shareColumnWidths();
}

TMainWindow::~TMainWindow() {
    Constructed = false;
    ListView_Measurements->setModel(nullptr);
    ListView_Results->setModel(nullptr);
}

void TMainWindow::attach(TMeasureList* list, ESortType* measureSortMode, ILanguage* language,
                         const ICollation* collation) {
    if (list) {
        list_ = list;
        measModel_ = std::make_unique<MeasureListModel>(*list_);
        QItemSelectionModel* old = ListView_Measurements->selectionModel();
        ListView_Measurements->setModel(measModel_.get());
        delete old;
        connect(ListView_Measurements->selectionModel(), &QItemSelectionModel::selectionChanged,
                this, [this] { measurementSelectionChanged(); });
    }
    if (measureSortMode) MeasureSortMode = measureSortMode;
    language_ = language;
    if (collation) collation_ = collation;
    applyWindowTexts();
    layoutLists();
    shareColumnWidths();
}

// ---------------------------------------------------------------------------
// building

void TMainWindow::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    ComboBox_FTDIDevice = new QComboBox(central);
    ComboBox_FTDIDevice->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ComboBox_FTDIDevice, &QComboBox::activated, this, [this] {
        if (events_.FtdiDeviceChanged) events_.FtdiDeviceChanged();
    });
    ComboBox_Com = new QComboBox(central);
    ComboBox_Com->setEditable(true);
    ComboBox_Com->setInsertPolicy(QComboBox::NoInsert);
    ComboBox_Baud = new QComboBox(central);
    ComboBox_Baud->setEditable(true);
    ComboBox_Baud->setInsertPolicy(QComboBox::NoInsert);

    Button_Open = new QPushButton(QStringLiteral("Button_Open"), central);
    CB_CombineMeasurements = new QCheckBox(central);
    CB_CombineMeasurements->hide();
    connect(CB_CombineMeasurements, &QCheckBox::clicked, this, [this](bool ticked) {
        if (events_.CombineClicked) events_.CombineClicked(ticked);
    });

    Label_FW = new QLabel(central);
    Label_FW->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label_FWDisplay = new QLabel(central);
    Label_FWDisplay->setAlignment(Qt::AlignCenter);
    Label_KyvoTime = new QLabel(central);
    Label_KyvoTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Panel_Date = new QFrame(central);
    Panel_Time = new QFrame(central);
    for (QFrame* p : {Panel_Date, Panel_Time}) p->setAutoFillBackground(true);
    DTP_SetDate = new QDateEdit(Panel_Date);
    DTP_SetDate->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
    DTP_SetDate->setCalendarPopup(true);
    DTP_SetDate->setDate(QDate::currentDate());
    DTP_SetTime = new QTimeEdit(Panel_Time);
    DTP_SetTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    DTP_SetTime->setTime(QTime::currentTime());
    for (QAbstractSpinBox* picker : {static_cast<QAbstractSpinBox*>(DTP_SetDate),
                                     static_cast<QAbstractSpinBox*>(DTP_SetTime)}) {
        picker->installEventFilter(this);
        picker->setContextMenuPolicy(Qt::CustomContextMenu);
        picker->setKeyboardTracking(false);
    }

    Button_ReadData = new QPushButton(QStringLiteral("Button_ReadData"), central);
    Button_InstantMeasure = new QPushButton(QStringLiteral("Button_InstantMeasure"), central);
    Button_TimerMeasure = new QPushButton(QStringLiteral("Button_TimerMeasure"), central);
    Button_QCMeasure = new QPushButton(central);
    Button_Save = new QPushButton(central);
    Button_Menu = new QPushButton(central);
    for (QPushButton* b : {Button_QCMeasure, Button_Save, Button_Menu}) b->hide();
    Button_QCMeasure->setEnabled(false);
    const std::pair<EControl, QPushButton*> clickable[] = {
        {EControl::Button_Open, Button_Open},
        {EControl::Button_ReadData, Button_ReadData},
        {EControl::Button_InstantMeasure, Button_InstantMeasure},
        {EControl::Button_TimerMeasure, Button_TimerMeasure},
        {EControl::Button_QCMeasure, Button_QCMeasure}};
    for (const auto& [c, b] : clickable) {
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, c] { click(c); });
    }

    ListView_Measurements = new QTableView(central);
    ListView_Results = new QTableView(central);
    setupList(ListView_Measurements);
    setupList(ListView_Results);
    ListView_Measurements->setModel(measModel_.get());
    ListView_Results->setModel(resModel_.get());
    ListView_Results->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const EList list : {EList::Measurements, EList::Results}) {
        QTableView* v = list == EList::Measurements ? ListView_Measurements : ListView_Results;
        connect(v->horizontalHeader(), &QHeaderView::sectionResized, this,
                [this, list](int column, int, int width) {
                    std::vector<int>& dragged = draggedWidths_[std::size_t(list)];
                    if (fittingColumns_ || column < 0 || column >= int(dragged.size())) return;
                    dragged[std::size_t(column)] = width;
                });
    }
    connect(ListView_Measurements->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int c) { measureColumnClick(c); });
    connect(ListView_Results->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int c) { resultColumnClick(c); });
    connect(ListView_Measurements->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { measurementSelectionChanged(); });
    connect(ListView_Measurements, &QTableView::doubleClicked, this, [this] {
        if (!ListView_Measurements->selectionModel()->selectedRows().isEmpty()) editComment();
    });
    ListView_Measurements->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView_Measurements->installEventFilter(this);

    Label_Max = new QLabel(central);
    Label_Min = new QLabel(central);
    Label_Max->hide();
    Label_Min->hide();
    imageView_ = new TLineImageView(central);
    imageView_->hide();
}

QWidget* TMainWindow::control(EControl c) const {
    switch (c) {
        case EControl::ComboBox_FTDIDevice:
            return ComboBox_FTDIDevice;
        case EControl::ComboBox_Com:
            return ComboBox_Com;
        case EControl::ComboBox_Baud:
            return ComboBox_Baud;
        case EControl::Button_Open:
            return Button_Open;
        case EControl::CB_CombineMeasurements:
            return CB_CombineMeasurements;
        case EControl::Label_FW:
            return Label_FW;
        case EControl::Label_FWDisplay:
            return Label_FWDisplay;
        case EControl::Label_KyvoTime:
            return Label_KyvoTime;
        case EControl::DTP_SetDate:
            return DTP_SetDate;
        case EControl::DTP_SetTime:
            return DTP_SetTime;
        case EControl::Panel_Date:
            return Panel_Date;
        case EControl::Panel_Time:
            return Panel_Time;
        case EControl::Button_ReadData:
            return Button_ReadData;
        case EControl::Button_InstantMeasure:
            return Button_InstantMeasure;
        case EControl::Button_TimerMeasure:
            return Button_TimerMeasure;
        case EControl::Button_QCMeasure:
            return Button_QCMeasure;
        case EControl::Button_Save:
            return Button_Save;
        case EControl::Button_Menu:
            return Button_Menu;
        case EControl::ListView_Measurements:
            return ListView_Measurements;
        case EControl::ListView_Results:
            return ListView_Results;
        case EControl::Label_Max:
            return Label_Max;
        case EControl::Label_Min:
            return Label_Min;
        default:
            return nullptr;  // a menu item: reached through action()
    }
}

QAction* TMainWindow::addMenuAction(QMenu* menu, EControl c, bool checkable) {
    auto* a = menu->addAction(QString());
    a->setCheckable(checkable);
    actions_[std::size_t(c)] = a;
    connect(a, &QAction::triggered, this, [this, c] { click(c); });
    return a;
}

void TMainWindow::buildMenus() {
    menuStyle_ = std::make_unique<TMenuStyle>(QStyleFactory::create(QStringLiteral("Fusion")));
    QMenuBar* bar = menuBar();
    bar->setStyle(menuStyle_.get());
    auto submenu = [this](QMenu* parent, EControl c) {
        QMenu* m = parent->addMenu(QString());
        m->setStyle(menuStyle_.get());
        actions_[std::size_t(c)] = m->menuAction();
        return m;
    };
    auto top = [&](EControl c) {
        QMenu* m = bar->addMenu(QString());
        m->setStyle(menuStyle_.get());
        actions_[std::size_t(c)] = m->menuAction();
        return m;
    };

    QMenu* main = top(EControl::Menu_Main);
    addMenuAction(main, EControl::Menu_DeleteList);
    addMenuAction(main, EControl::Menu_SaveFile);
    addMenuAction(main, EControl::Menu_LoadFile);
    addMenuAction(main, EControl::Menu_FormatDB);
    addMenuAction(main, EControl::Menu_SetQCFile)->setVisible(false);

    QMenu* setup = top(EControl::Menu_Setup);
    QMenu* imgPos = submenu(setup, EControl::Menu_SetImagePos);
    for (EControl c : {EControl::Menu_ImgPosLeft, EControl::Menu_ImgPosRight,
                       EControl::Menu_ImgPosFull, EControl::Menu_ImgPosNone})
        addMenuAction(imgPos, c, true);
    QMenu* behaviour = submenu(setup, EControl::Menu_NewDataBehaviour);
    for (EControl c :
         {EControl::Menu_OverWriteExisting, EControl::Menu_AddToExisting, EControl::Menu_AlwaysAsk})
        addMenuAction(behaviour, c, true);
    addMenuAction(setup, EControl::Menu_AutoConnect, true);
    addMenuAction(setup, EControl::Menu_ShutDownOnClose, true);
    addMenuAction(setup, EControl::Menu_LoadLastSavedOnStart, true);
    addMenuAction(setup, EControl::Menu_FTDIDirect, true)->setVisible(false);
    QMenu* source = submenu(setup, EControl::Menu_TestSource);
    for (EControl c : {EControl::Menu_SrcKyvo, EControl::Menu_SrcLocal, EControl::Menu_SrcSelect})
        addMenuAction(source, c, true);

    top(EControl::Menu_Language);
    QMenu* info = top(EControl::Menu_Info);
    addMenuAction(info, EControl::SubMenu_Version);
    addMenuAction(info, EControl::SubMenu_Help)->setVisible(false);

    popupFTDI_ = new QMenu(this);
    popupFTDI_->setStyle(menuStyle_.get());
    addMenuAction(popupFTDI_, EControl::Aktualisieren1);
    connect(ComboBox_FTDIDevice, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { popupFTDI_->popup(ComboBox_FTDIDevice->mapToGlobal(p)); });
    popupTime_ = new QMenu(this);
    popupTime_->setStyle(menuStyle_.get());
    addMenuAction(popupTime_, EControl::PopUpItem_SetSystemTime);
    for (QWidget* picker : {static_cast<QWidget*>(DTP_SetDate), static_cast<QWidget*>(DTP_SetTime)})
        connect(picker, &QWidget::customContextMenuRequested, this,
                [this, picker](const QPoint& p) { popupTime_->popup(picker->mapToGlobal(p)); });
    popupResults_ = new QMenu(this);
    popupResults_->setStyle(menuStyle_.get());
    addMenuAction(popupResults_, EControl::AddComment);
    addMenuAction(popupResults_, EControl::DeleteEntries);
    connect(ListView_Measurements, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) {
                // No menu without a selected row.
                if (ListView_Measurements->selectionModel()->selectedRows().isEmpty()) return;
                popupResults_->popup(ListView_Measurements->viewport()->mapToGlobal(p));
            });

    // The shortcuts are the window's own, so that the menu shows their text
    // from the language file rather than Qt's.
    auto* save = new QAction(this);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(save, &QAction::triggered, this, [this] {
        if (action(EControl::Menu_SaveFile)->isEnabled()) click(EControl::Menu_SaveFile);
    });
    auto* load = new QAction(this);
    load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(load, &QAction::triggered, this, [this] {
        if (action(EControl::Menu_LoadFile)->isEnabled()) click(EControl::Menu_LoadFile);
    });
    addAction(save);
    addAction(load);
}

void TMainWindow::click(EControl c) {
    switch (c) {
        case EControl::Menu_ImgPosLeft:
            setImagePosition(SLeft, true);
            return;
        case EControl::Menu_ImgPosRight:
            setImagePosition(SRight, true);
            return;
        case EControl::Menu_ImgPosFull:
            setImagePosition(SFull, true);
            return;
        case EControl::Menu_ImgPosNone:
            setImagePosition(SNone, true);
            return;
        case EControl::Menu_DeleteList:
            deleteWholeList();
            return;
        case EControl::AddComment:
            editComment();
            return;
        case EControl::DeleteEntries:
            deleteSelectedEntries();
            return;
        default:
            break;
    }
    if (events_.Click) events_.Click(c);
}

std::string TMainWindow::lang(const TLangEntry& e) const {
    return language_ ? language_->Text(e) : std::string(e.Def);
}

EModalResult TMainWindow::ask(const std::string& text, EMsgStyle style) {
    if (events_.Message) return events_.Message(text, style);
    TMessageButtons b{lang(LE_Yes), lang(LE_No), lang(LE_Cancel)};
    if (style == EMsgStyle::OK || style == EMsgStyle::OKCancel)
        b = {lang(LE_OK), lang(LE_Cancel), {}};
    return ShowMessageBox(text, "", style, b);
}

void TMainWindow::applyWindowTexts() {
    const QStringList measTitles = {q(lang(LE_TestID)),    q(lang(LE_TestName)),
                                    q(lang(LE_LotNumber)), q(lang(LE_DistributorManufacturer)),
                                    q(lang(LE_DateTime)),  q(lang(LE_UserComments))};
    const QStringList resTitles = {q(lang(LE_Validity)), q(lang(LE_ResultName)), q(lang(LE_Result)),
                                   q(lang(LE_ResultUnit)), q(lang(LE_Class))};
    measModel_->setTitles(measTitles);
    resModel_->setTitles(resTitles);
    if (infoWindow) infoWindow->UpdateLanguage(q(lang(LE_Close)));
    // Titles in another language need other widths (and so do the cells'
    // texts, which follow the language too).
    if (appliedTitles_ != measTitles + resTitles) {
        appliedTitles_ = measTitles + resTitles;
        contentWidths_[0].clear();
        contentWidths_[1].clear();
        shareColumnWidths();
    }
}

// ---------------------------------------------------------------------------
// geometry

void TMainWindow::layoutTopRows() {
    layout::TTopRowHints hints;
    hints.centralWidth = centralWidget()->width();
    hints.screenWidth = screen() ? screen()->geometry().width() : 1920;
    hints.open = Button_Open->sizeHint().width();
    hints.combine = CB_CombineMeasurements->sizeHint().width();
    hints.combineHeight = CB_CombineMeasurements->sizeHint().height();
    hints.readData = Button_ReadData->sizeHint().width();
    hints.instantMeasure = Button_InstantMeasure->sizeHint().width();
    hints.timerMeasure = Button_TimerMeasure->sizeHint().width();
    hints.kyvoTime = Label_KyvoTime->sizeHint().width();
    hints.fw = Label_FW->sizeHint().width();
    const layout::TTopRows r = layout::topRows(hints);
    ComboBox_FTDIDevice->setGeometry(r.ftdiDevice);
    ComboBox_Com->setGeometry(r.com);
    ComboBox_Baud->setGeometry(r.baud);
    Button_Open->setGeometry(r.open);
    CB_CombineMeasurements->setGeometry(r.combine);
    Button_ReadData->setGeometry(r.readData);
    Button_InstantMeasure->setGeometry(r.instantMeasure);
    Button_TimerMeasure->setGeometry(r.timerMeasure);
    Panel_Date->setGeometry(r.panelDate);
    Panel_Time->setGeometry(r.panelTime);
    DTP_SetDate->setGeometry(r.picker);
    DTP_SetTime->setGeometry(r.picker);
    Label_KyvoTime->setGeometry(r.kyvoTime);
    Label_FWDisplay->setGeometry(r.fwDisplay);
    Label_FW->setGeometry(r.fw);
}

int TMainWindow::labelColumnWidth() const {
    const QFontMetrics fm(Label_Min->font());
    return layout::labelColumnWidth(fm.horizontalAdvance(Label_Min->text()),
                                    fm.horizontalAdvance(Label_Max->text()),
                                    !Label_Min->text().isEmpty() || !Label_Max->text().isEmpty());
}

void TMainWindow::layoutLists() {
    if (!Constructed) return;
    const layout::TListRects lists = layout::listRects(width(), centralWidget()->height(),
                                                       Button_ReadData->y() + layout::kListGap);
    ListView_Measurements->setGeometry(lists.measurements);
    ListView_Results->setGeometry(lists.results);
    const bool shown = DrawImage && ImagePosition != SNone;
    Label_Min->setVisible(shown);
    Label_Max->setVisible(shown);
    if (shown) {
        FormResized = true;
        placeLineImage();
    } else {
        imageView_->hide();
    }
}

void TMainWindow::shareColumnWidths() {
    if (!Constructed) return;
    for (const EList list : {EList::Measurements, EList::Results}) {
        QTableView* v = list == EList::Measurements ? ListView_Measurements : ListView_Results;
        const std::size_t k = std::size_t(list);
        const int columns = v->model() ? v->model()->columnCount() : 0;
        // Columns that are others than before forget what they were given.
        if (int(draggedWidths_[k].size()) != columns) draggedWidths_[k].assign(columns, -1);
        std::vector<int>& content = contentWidths_[k];
        if (int(content.size()) != columns) {
            content.assign(columns, 0);
            const bool rows = v->model() && v->model()->rowCount() > 0;
            for (int c = 0; c < columns; ++c) {
                content[c] = v->horizontalHeader()->sectionSizeHint(c);
                // Samples the rows as the header's double click does.
                if (rows)
                    content[c] = std::max(content[c],
                                          static_cast<QAbstractItemView*>(v)->sizeHintForColumn(c));
            }
        }
        std::vector<layout::TColumnNeed> needs(columns);
        for (int c = 0; c < columns; ++c) {
            needs[c].content = content[c];
            needs[c].dragged = draggedWidths_[k][c];
            // The two columns that tell one measurement from another.
            needs[c].whole = list == EList::Measurements && (c == 0 || c == 4);
        }
        const int inner =
            v->width() - 2 * v->frameWidth() - v->verticalScrollBar()->sizeHint().width();
        const std::vector<int> widths = layout::fitColumnWidths(inner, needs);
        fittingColumns_ = true;
        for (int c = 0; c < columns; ++c) v->setColumnWidth(c, widths[c]);
        fittingColumns_ = false;
    }
}

void TMainWindow::remeasureColumns(EList list) {
    contentWidths_[std::size_t(list)].clear();
    shareColumnWidths();
}

void TMainWindow::placeLineImage() {
    if (!DrawImage || ImagePosition == SNone) {
        imageView_->hide();
        return;
    }
    Label_Max->adjustSize();
    Label_Min->adjustSize();
    const layout::TImagePlacement p = layout::placeImage(
        ImagePosition, {ListView_Measurements->geometry(), ListView_Results->geometry()},
        centralWidget()->height(), labelColumnWidth(), Label_Min->height());
    ListView_Measurements->resize(ListView_Measurements->width(), p.measurementsHeight);
    ListView_Results->resize(ListView_Results->width(), p.resultsHeight);
    Label_Max->move(p.labelMax);
    Label_Min->move(p.labelMin);
    Label_Max->show();
    Label_Min->show();
    imageView_->setGeometry(p.frame);
    imageView_->setPicture(LineImage, FormResized);
    imageView_->show();
}

void TMainWindow::rebuildLineImage() {
    if (!DrawImage || ImagePosition == SNone || !selectedSet_) return;
    // The picture fills its frame inside the one-pixel border.
    const int w = layout::imageFrameWidth(ImagePosition, ListView_Measurements->width(),
                                          ListView_Results->width(), labelColumnWidth()) -
                  2;
    std::vector<std::uint8_t> values(selectedSet_->ImageData.begin(),
                                     selectedSet_->ImageData.end());
    LineImage =
        drawLineImage(values, lineMarksOf(*selectedSet_), std::max(w, 1), devicePixelRatioF());
    FormResized = false;
    placeLineImage();
}

void TMainWindow::finishResize() {
    resizeSettle_.stop();
    if (DrawImage) rebuildLineImage();
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layoutTopRows();
    layoutLists();
    shareColumnWidths();
    if (DrawImage) resizeSettle_.start();
}

void TMainWindow::setImagePosition(EImagePos pos, bool store) {
    ImagePosition = pos;
    const std::pair<EControl, EImagePos> items[] = {{EControl::Menu_ImgPosLeft, SLeft},
                                                    {EControl::Menu_ImgPosRight, SRight},
                                                    {EControl::Menu_ImgPosFull, SFull},
                                                    {EControl::Menu_ImgPosNone, SNone}};
    for (const auto& [c, p] : items) action(c)->setChecked(p == pos);
    if (store) storeImagePosition();
    layoutLists();
    rebuildLineImage();
}

void TMainWindow::storeImagePosition() {
    if (events_.ImagePositionChosen) events_.ImagePositionChosen(ImagePosition);
}

void TMainWindow::setResultLayoutWithoutUnit(bool without) {
    resModel_->setWithoutUnitColumn(without);
    applyWindowTexts();
    layoutLists();
    shareColumnWidths();
}

// ---------------------------------------------------------------------------
// lists

void TMainWindow::measureColumnClick(int column) {
    ListView_Measurements->clearSelection();
    MeasColumnToSort = column;
    const ESortType mode = kyvo::measureColumnClick(*MeasureSortMode, column);
    showSortArrow(ListView_Measurements, column, mode);
    if (events_.SortMeasurements) {
        events_.SortMeasurements(mode);
    } else {
        // A window without a controller (the benchmarks) sorts by itself.
        *MeasureSortMode = mode;
        sortMeasureList(mode, *list_, *collation_);
    }
    measModel_->repaintAll();
}

void TMainWindow::resultColumnClick(int column) {
    ResColumnToSort = column;
    ResultSortMode =
        kyvo::resultColumnClick(ResultSortMode, column, resModel_->withoutUnitColumn());
    showSortArrow(ListView_Results, column, ResultSortMode);
    SortByMode(ResultSortMode, SelResultList, *collation_);
    resModel_->repaintAll();
}

void TMainWindow::hideLineImage() {
    DrawImage = false;
    selectedSet_ = nullptr;
    imageView_->hide();
    Label_Min->hide();
    Label_Max->hide();
}

void TMainWindow::measurementSelectionChanged() {
    SelResultList.clear();
    hideLineImage();
    const QModelIndexList rows = ListView_Measurements->selectionModel()->selectedRows();
    int row = -1;
    const QModelIndex current = ListView_Measurements->currentIndex();
    if (current.isValid() && ListView_Measurements->selectionModel()->isRowSelected(current.row()))
        row = current.row();
    else if (!rows.isEmpty())
        row = rows.first().row();
    if (row >= 0 && row < int(list_->size())) {
        const TMeasureSet& set = *(*list_)[std::size_t(row)];
        selectedSet_ = &set;
        for (const TResultSet& r : set.ResultList) SelResultList.push_back(&r);
        Label_Min->setText(q(set.ImgMin));
        Label_Max->setText(q(set.ImgMax));
        DrawImage = !set.ImageData.empty();
        ListView_Measurements->scrollTo(measModel_->index(row, 0));
    }
    layoutLists();
    if (DrawImage) rebuildLineImage();
    resModel_->setCount(int(SelResultList.size()));
    SortByMode(ResultSortMode, SelResultList, *collation_);
    resModel_->repaintAll();
    remeasureColumns(EList::Results);
}

void TMainWindow::deleteSelectedEntries() {
    const QModelIndexList selected = ListView_Measurements->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    if (ask(lang(LE_AskDeleteSelectedEntry), EMsgStyle::YesNo) != EModalResult::Yes) return;
    std::vector<int> rows;
    for (const QModelIndex& i : selected) rows.push_back(i.row());
    ListView_Measurements->clearSelection();
    if (events_.DeleteEntries) events_.DeleteEntries(rows);
    measModel_->setCount(int(list_->size()));
    measModel_->repaintAll();
    hideLineImage();
    layoutLists();
}

void TMainWindow::deleteWholeList() {
    if (!list_->empty() &&
        ask(lang(LE_AskDeleteAllEntries), EMsgStyle::YesNo) == EModalResult::Yes) {
        ListView_Measurements->clearSelection();
        if (events_.DeleteAll) events_.DeleteAll();
        measModel_->setCount(int(list_->size()));
        hideLineImage();
    }
    rebuildLineImage();
    layoutLists();
}

void TMainWindow::editComment() {
    const QModelIndexList selected = ListView_Measurements->selectionModel()->selectedRows();
    if (selected.isEmpty()) return;
    int row = selected.first().row();
    for (const QModelIndex& i : selected) row = std::min(row, i.row());
    if (row >= int(list_->size())) return;
    TMeasureSet& set = *(*list_)[std::size_t(row)];
    std::string text = set.UserComment;
    EModalResult answer = EModalResult::Cancel;
    const auto query = [&] {
        answer = ShowInputQuery(lang(LE_UserComments), lang(LE_CommentsResponsibility), text,
                                lang(LE_OK), lang(LE_Cancel));
    };
    if (events_.Paused)
        events_.Paused(query);
    else
        query();
    // The list may have been replaced while the dialog was open.
    if (answer != EModalResult::OK || row >= int(list_->size()) ||
        (*list_)[std::size_t(row)].get() != &set)
        return;
    if (events_.CommentEdited) events_.CommentEdited(std::size_t(row), text);
    measModel_->repaintRow(row);
}

// ---------------------------------------------------------------------------
// IMainView: controls

void TMainWindow::SetText(EControl c, const std::string& text) {
    if (QAction* a = action(c)) {
        a->setText(q(text));
        return;
    }
    QWidget* w = control(c);
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(q(text));
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(q(text));
    else if (auto* cb = qobject_cast<QComboBox*>(w))
        cb->setEditText(q(text));
    // A longer text (another language) may need a wider control.
    if (Constructed && (qobject_cast<QAbstractButton*>(w) || w == Label_FW || w == Label_KyvoTime))
        layoutTopRows();
}

void TMainWindow::SetHint(EControl c, const std::string& hint) {
    if (QAction* a = action(c))
        a->setToolTip(q(hint));
    else if (QWidget* w = control(c))
        w->setToolTip(q(hint));
}

void TMainWindow::SetEnabled(EControl c, bool enabled) {
    if (QAction* a = action(c))
        a->setEnabled(enabled);
    else if (QWidget* w = control(c))
        w->setEnabled(enabled);
}

void TMainWindow::SetVisible(EControl c, bool visible) {
    if (QAction* a = action(c))
        a->setVisible(visible);
    else if (QWidget* w = control(c))
        w->setVisible(visible);
}

void TMainWindow::SetChecked(EControl c, bool checked) {
    if (QAction* a = action(c))
        a->setChecked(checked);
    else if (auto* b = qobject_cast<QAbstractButton*>(control(c)))
        b->setChecked(checked);
}

void TMainWindow::SetItems(EControl c, const std::vector<std::string>& items) {
    auto* cb = qobject_cast<QComboBox*>(control(c));
    if (!cb) return;
    const QSignalBlocker block(cb);
    cb->clear();
    for (const auto& i : items) cb->addItem(q(i));
    cb->setCurrentIndex(-1);
}

void TMainWindow::SetItemIndex(EControl c, int index) {
    auto* cb = qobject_cast<QComboBox*>(control(c));
    if (!cb) return;
    const QSignalBlocker block(cb);
    cb->setCurrentIndex(index >= 0 && index < cb->count() ? index : -1);
    if (cb->isEditable() && cb->currentIndex() < 0) cb->setEditText(QString());
}

int TMainWindow::ItemIndex(EControl c) {
    auto* cb = qobject_cast<QComboBox*>(control(c));
    if (!cb) return -1;
    if (!cb->isEditable()) return cb->currentIndex();
    // A typed text selects the entry it equals, or none.
    const int i = cb->currentIndex();
    if (i >= 0 && cb->itemText(i) == cb->currentText()) return i;
    return cb->findText(cb->currentText(), Qt::MatchExactly);
}

std::string TMainWindow::EditText(EControl c) {
    auto* cb = qobject_cast<QComboBox*>(control(c));
    return cb ? s(cb->currentText().trimmed()) : std::string();
}

// ---------------------------------------------------------------------------
// IMainView: window

void TMainWindow::SetCaption(const std::string& caption) {
    setWindowTitle(q(caption));
    // The controller sets the caption at the end of every text pass.
    applyWindowTexts();
}

void TMainWindow::SetWindowIcon(const std::string& path) {
    const QIcon icon(q(path));
    if (!icon.isNull()) setWindowIcon(icon);
}

void TMainWindow::RequestClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

bool TMainWindow::IsApplicationActive() {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

TWindowGeometry TMainWindow::Geometry() {
    TWindowGeometry g;
    const QRect r = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    g.Left = r.x();
    g.Top = r.y();
    g.Width = r.width();
    g.Height = r.height();
    g.WindowState = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    return g;
}

void TMainWindow::SetGeometry(const TWindowGeometry& g) {
    setGeometry(g.Left, g.Top, std::max(g.Width, minimumWidth()),
                std::max(g.Height, minimumHeight()));
    if (g.WindowState == 2) setWindowState(windowState() | Qt::WindowMaximized);
}

TScreenSize TMainWindow::ScreenSize() {
    TScreenSize size;
    if (const QScreen* sc = screen()) {
        size.ScreenWidth = sc->geometry().width();
        size.ScreenHeight = sc->geometry().height();
        size.DesktopWidth = sc->virtualGeometry().width();
        size.DesktopHeight = sc->virtualGeometry().height();
    }
    return size;
}

void TMainWindow::SetLanguageMenu(const std::vector<std::string>& names, int checked) {
    QMenu* menu = menuLanguage();
    menu->clear();
    auto* group = new QActionGroup(menu);
    for (int i = 0; i < int(names.size()); ++i) {
        QAction* a = menu->addAction(q(names[std::size_t(i)]));
        a->setCheckable(true);
        a->setChecked(i == checked);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] {
            if (events_.LanguageChosen) events_.LanguageChosen(i);
        });
    }
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (events_.CloseQuery && !events_.CloseQuery()) {
        event->ignore();
        return;
    }
    if (events_.Closed) events_.Closed();
    HideEvaluationInfo();
    event->accept();
}

void TMainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && events_.Activated)
        events_.Activated();
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView_Measurements && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        // The Delete key does what the pop-up menu's item does, when it may.
        if (action(EControl::DeleteEntries)->isEnabled()) click(EControl::DeleteEntries);
        return true;
    }
    if ((watched == DTP_SetDate || watched == DTP_SetTime) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
            const bool enter = key != Qt::Key_Escape;
            // Digits typed into a picker are its value only once committed;
            // the key is taken here, before the picker would commit them.
            if (enter) static_cast<QAbstractSpinBox*>(watched)->interpretText();
            if (events_.PickerKey)
                events_.PickerKey(enter);
            else
                ClearPickerFocus();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// IMainView: status bar, lists, clock

void TMainWindow::SetStatusText(int panel, const std::string& text) {
    statusBar_->setPanelText(panel, q(text));
}
void TMainWindow::SetProgressVisible(bool visible) {
    statusBar_->progressBar()->setVisible(visible);
}
void TMainWindow::SetProgressMax(int max) {
    statusBar_->progressBar()->setMaximum(std::max(max, 0));
}
void TMainWindow::SetProgressPosition(int position) {
    QProgressBar* bar = statusBar_->progressBar();
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

void TMainWindow::SetListCount(EList list, int count) {
    if (list == EList::Measurements) {
        const int before = measModel_->count();
        measModel_->setCount(count);
        if (before != count) {
            // A reset drops the selection without telling: show that.
            SelResultList.clear();
            hideLineImage();
            resModel_->setCount(0);
            layoutLists();
            remeasureColumns(EList::Measurements);
        } else {
            dropStaleSelection();
        }
    } else {
        if (count == 0) SelResultList.clear();
        resModel_->setCount(std::min(count, int(SelResultList.size())));
    }
}

// The shown results point into a measure set: when the controller replaced
// the list behind the window's back, they must go before anything is painted.
void TMainWindow::dropStaleSelection() {
    if (!selectedSet_) return;
    for (const auto& m : *list_)
        if (m.get() == selectedSet_) return;
    SelResultList.clear();
    resModel_->setCount(0);
    hideLineImage();
    layoutLists();
}

void TMainWindow::RepaintList(EList list) {
    dropStaleSelection();
    if (list == EList::Measurements)
        measModel_->repaintAll();
    else
        resModel_->repaintAll();
    remeasureColumns(list);
}

int TMainWindow::SelectedCount(EList list) {
    QTableView* v = list == EList::Measurements ? ListView_Measurements : ListView_Results;
    return int(v->selectionModel()->selectedRows().size());
}

void TMainWindow::ClearSelection(EList list) {
    (list == EList::Measurements ? ListView_Measurements : ListView_Results)->clearSelection();
}

void TMainWindow::SelectMeasurement(int index) {
    if (index < 0 || index >= measModel_->count()) return;
    ListView_Measurements->selectionModel()->setCurrentIndex(
        measModel_->index(index, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ListView_Measurements->scrollTo(measModel_->index(index, 0));
}

void TMainWindow::SetPickerDateTime(const TLocalDateTime& t) {
    DTP_SetDate->setDate(QDate(t.Year, t.Month, t.Day));
    DTP_SetTime->setTime(QTime(t.Hour, t.Minute, t.Second, t.Millisecond));
}

TLocalDateTime TMainWindow::PickerDateTime() {
    const QDate d = DTP_SetDate->date();
    const QTime t = DTP_SetTime->time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
}

bool TMainWindow::PickerHasFocus() {
    QWidget* f = QApplication::focusWidget();
    return f && (f == DTP_SetDate || f == DTP_SetTime || DTP_SetDate->isAncestorOf(f) ||
                 DTP_SetTime->isAncestorOf(f));
}

void TMainWindow::ClearPickerFocus() {
    if (PickerHasFocus()) ListView_Measurements->setFocus(Qt::OtherFocusReason);
    DTP_SetDate->clearFocus();
    DTP_SetTime->clearFocus();
}

void TMainWindow::SetPanelColour(EControl c, EPanelColour colour) {
    auto* panel = qobject_cast<QFrame*>(control(c));
    if (!panel) return;
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, panelColour(colour, palette()));
    panel->setPalette(pal);
    panel->update();
}

// ---------------------------------------------------------------------------
// IMainView: dialogs

void TMainWindow::centreOnWindow(QWidget* dialog) const {
    const QRect main = frameGeometry();
    dialog->move(main.left() + (main.width() - dialog->width()) / 2,
                 main.top() + (main.height() - dialog->height()) / 2);
}

EModalResult TMainWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                         EMsgStyle style, const TMessageButtons& buttons) {
    TForm_OwnMessageBox box(dialogParent());
    box.SetMessage(q(caption), q(text), int(style), q(buttons.OK), q(buttons.Cancel),
                   q(buttons.Aux));
    if (buttons.DefaultIsSecond && style != EMsgStyle::OK) box.SetDefaultButton(box.Button_Cancel);
    centreOnWindow(&box);
    return EModalResult(box.exec());
}

EModalResult TMainWindow::ShowInputQuery(const std::string& caption, const std::string& prompt,
                                         std::string& text, const std::string& okText,
                                         const std::string& cancelText) {
    TForm_InputQuery query(dialogParent());
    query.SetQuery(q(caption), q(prompt), q(okText), q(cancelText));
    query.Edit_Input->setText(q(text));
    centreOnWindow(&query);
    if (query.exec() == mrOk) {
        text = s(query.Edit_Input->text());
        return EModalResult::OK;
    }
    return EModalResult::Cancel;
}

EModalResult TMainWindow::ShowSelect(const std::string& caption, const std::string& prompt,
                                     const std::vector<std::string>& items, int& selected,
                                     const std::string& okText, const std::string& cancelText) {
    TForm_Select select(dialogParent());
    select.setWindowTitle(q(caption));
    select.Label_Select->setText(q(prompt));
    select.Button_OK->setText(q(okText));
    select.Button_Cancel->setText(q(cancelText));
    QStringList list;
    for (const auto& i : items) list << q(i);
    select.SetSelCnt(list);
    select.setItemIndex(selected);
    centreOnWindow(&select);
    if (select.exec() != mrOk) return EModalResult::Cancel;
    selected = select.itemIndex();
    return EModalResult::OK;
}

EModalResult TMainWindow::ShowConfigList(const std::string& caption, const std::string& okText,
                                         const std::vector<std::string>& items, int& selected) {
    TForm_TestCfgList dialog(dialogParent());
    QStringList list;
    for (const auto& i : items) list << q(i);
    dialog.SetEntries(q(caption), q(okText), list);
    centreOnWindow(&dialog);
    if (dialog.exec() != mrOk || dialog.selectedIndex() < 0) return EModalResult::Cancel;
    selected = dialog.selectedIndex();
    return EModalResult::OK;
}

void TMainWindow::ShowInfoDialog(const TInfoDialogTexts& texts) {
    if (!infoWindow) {
        // Created on first use and filled once.
        infoWindow = std::make_unique<TForm_Info>(this);
        infoWindow->setTexts(q(texts.ProgName), q(texts.Customer), q(texts.Version));
        infoWindow->updateLogo(q(texts.LogoFile), QCoreApplication::applicationDirPath());
    }
    infoWindow->UpdateLanguage(q(texts.CloseText));
    centreOnWindow(infoWindow.get());
    infoWindow->exec();
}

std::optional<std::string> TMainWindow::ShowFileDialog(const TFileDialogRequest& r) {
    QString filter = q(r.Filter);
    // "Description|*.ext" pairs become Qt's "Description (*.ext)".
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + QStringLiteral(" (") + parts[i + 1] + QStringLiteral(")");
    QFileDialog dialog(dialogParent());
    dialog.setNameFilters(filters);
    dialog.setDirectory(q(r.InitialDir));
    dialog.selectFile(q(r.FileName));
    dialog.setDefaultSuffix(q(r.DefaultExt));
    const bool save = r.Kind == EFileDialog::SaveResults;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The program asks itself whether to add to an existing file or replace it.
    if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return s(dialog.selectedFiles().first());
}

void TMainWindow::ShowEvaluationInfo(const std::string& text) {
    if (!EvaluationInfo) {
        EvaluationInfo = std::make_unique<TForm_EvaluationInfo>(this);
        connect(EvaluationInfo.get(), &TForm_EvaluationInfo::cancelRequested, this, [this] {
            EvaluationInfo->Button_Cancel->setEnabled(false);
            if (events_.AbortEvaluation) events_.AbortEvaluation();
        });
    }
    const bool wasHidden = !EvaluationInfo->isVisible();
    if (wasHidden) EvaluationInfo->Button_Cancel->setEnabled(true);
    EvaluationInfo->SetCancelText(q(lang(LE_Cancel)));
    EvaluationInfo->SetLabelText(q(text));
    centreOnWindow(EvaluationInfo.get());
    EvaluationInfo->show();
    // A countdown updates the prompt every second; a message open in front
    // of it stays in front.
    if (!QApplication::activeModalWidget()) EvaluationInfo->raise();
}

QWidget* TMainWindow::dialogParent() {
    if (EvaluationInfo && EvaluationInfo->isVisible()) return EvaluationInfo.get();
    return this;
}

void TMainWindow::HideEvaluationInfo() {
    if (EvaluationInfo) EvaluationInfo->hide();
}

}  // namespace kyvo
