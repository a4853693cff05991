#include "ui/WindowWiring.h"

#include "ui/ArchiveView.h"
#include "ui/LisWindow.h"
#include "ui/ListSort.h"
#include "ui/ResultExportMenu.h"

namespace kyvo {

void applyLanguageTexts(TMainWindow& window, TForm_Main& controller) {
    controller.ApplyLanguageTexts();
    window.applyWindowTexts();
    if (auto* archive = window.findChild<TArchiveWindow*>()) archive->applyTexts();
    if (auto* lis = window.findChild<TLisWindowPart*>()) lis->applyTexts();
}

void wireWindow(TMainWindow& window, TForm_Main& controller, ILanguage* language,
                const ICollation* collation) {
    window.attach(&controller.MeasureList, &controller.MeasureSortMode, language, collation);
    window.setImagePosition(controller.ImagePosition(), false);
    // The list sorts the same way whoever asks: the window's column clicks
    // and the measurements that join it.
    controller.SortList = [collation](ESortType mode, TMeasureList& list) {
        sortMeasureList(mode, list, collation ? *collation : defaultCollation());
    };
    TForm_Main* c = &controller;
    TWindowEvents e;
    e.Click = [c](EControl control) {
        switch (control) {
            case EControl::Button_Open:
                c->Button_OpenClick();
                break;
            case EControl::Button_ReadData:
                c->Button_ReadDataClick();
                break;
            case EControl::Button_InstantMeasure:
                c->Button_InstantMeasureClick();
                break;
            case EControl::Button_TimerMeasure:
                c->Button_TimerMeasureClick();
                break;
            case EControl::Menu_FormatDB:
                c->Menu_FormatDBClick();
                break;
            case EControl::Menu_AutoConnect:
                c->Menu_AutoConnectClick();
                break;
            case EControl::Menu_ShutDownOnClose:
                c->Menu_ShutDownOnCloseClick();
                break;
            case EControl::Menu_OverWriteExisting:
                c->Menu_DataBehaviourClick(AlwaysOverwrite);
                break;
            case EControl::Menu_AddToExisting:
                c->Menu_DataBehaviourClick(AlwaysAdd);
                break;
            case EControl::Menu_AlwaysAsk:
                c->Menu_DataBehaviourClick(AlwaysAsk);
                break;
            case EControl::Menu_SrcKyvo:
                c->Menu_TestSourceClick(TSKyvo);
                break;
            case EControl::Menu_SrcLocal:
                c->Menu_TestSourceClick(TSLocal);
                break;
            case EControl::Menu_SrcSelect:
                c->Menu_TestSourceClick(TSSelect);
                break;
            case EControl::Aktualisieren1:
                c->aktualisieren1Click();
                break;
            case EControl::SubMenu_Version:
                c->SubMenu_VersionClick();
                break;
            case EControl::PopUpItem_SetSystemTime:
                c->PopUpItem_SetSystemTimeClick();
                break;
            case EControl::Menu_SaveFile:
                c->Menu_SaveFileClick();
                break;
            case EControl::Menu_LoadFile:
                c->Menu_LoadFileClick();
                break;
            case EControl::Menu_LoadLastSavedOnStart:
                c->Menu_LoadLastSavedOnStartClick();
                break;
            default:
                break;
        }
    };
    e.CombineClicked = [c](bool ticked) { c->CB_CombineMeasurementsClick(ticked); };
    e.FtdiDeviceChanged = [c] { c->ComboBox_FTDIDeviceChange(); };
    e.PickerKey = [c](bool enter) { c->DTP_SetDateKeyDown(enter); };
    e.Activated = [c] { c->FormActivate(); };
    e.CloseQuery = [c] { return c->FormCloseQuery(); };
    e.Closed = [c] { c->FormClose(); };
    e.AbortEvaluation = [c] { c->AbortEvaluation(); };
    e.Paused = [c](const std::function<void()>& dialog) { c->RunPaused(dialog); };
    e.SortMeasurements = [c](ESortType mode) { c->SortMeasureList(mode); };
    e.DeleteEntries = [c](const std::vector<int>& rows) { c->DeleteMeasurements(rows); };
    e.DeleteAll = [c] { c->DeleteAllMeasurements(); };
    e.CommentEdited = [c](std::size_t row, const std::string& text) {
        c->SetMeasurementComment(row, text);
    };
    e.ImagePositionChosen = [c](EImagePos pos) { c->SetImagePosition(pos); };
    e.Message = [c](const std::string& text, EMsgStyle style) {
        return c->ShowOwnMessage(text, "", style);
    };
    window.setEvents(std::move(e));
    // Owned by the window.
    new TResultExport(window, controller, language);
}

}  // namespace kyvo
