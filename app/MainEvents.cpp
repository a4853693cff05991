// The presenter's side of a measurement: the buttons, the source and
// combining menus, the questions the session asks during a measurement and
// a new measurement joining the list.
#include "app/Main.h"
#include "files/Settings.h"

namespace kyvo {

void TForm_Main::Button_InstantMeasureClick() {
    session_->Measure(false);
}
void TForm_Main::Button_TimerMeasureClick() {
    session_->Measure(true);
}

void TForm_Main::Menu_TestSourceClick(ETestSource source) {
    session_->UseTestSource(source);
    view.SetChecked(EControl::Menu_SrcKyvo, source == TSKyvo);
    view.SetChecked(EControl::Menu_SrcLocal, source == TSLocal);
    view.SetChecked(EControl::Menu_SrcSelect, source == TSSelect);
    d.UserSettings->SetText("Setup", "TestSource", std::string(TestSourceWord(source)));
}

void TForm_Main::CB_CombineMeasurementsClick(bool ticked) {
    session_->UseCombining(ticked);
}

std::optional<EConfigSource> TForm_Main::AskConfigSource() {
    int selected = 0;
    const EModalResult r = view.ShowSelect(Lang(LE_SelectSource), Lang(LE_SelectConfigSource),
                                           {Lang(LE_LoadThroughDevice), Lang(LE_LoadFromFile)},
                                           selected, Lang(LE_OK), Lang(LE_Cancel));
    if (r != EModalResult::OK) return std::nullopt;
    return selected == 1 ? EConfigSource::File : EConfigSource::Device;
}

std::optional<std::string> TForm_Main::ChooseConfigFile(const std::string& startFolder) {
    TFileDialogRequest req;
    req.Kind = EFileDialog::OpenConfig;
    req.InitialDir = startFolder.empty() ? ResultFolder() : startFolder;
    req.DefaultExt = "bin";
    req.Filter = Lang(LE_BinaryFileFilter);
    req.MustExist = true;
    return view.ShowFileDialog(req);
}

std::optional<int> TForm_Main::ChooseStoredConfiguration(const std::vector<std::string>& items) {
    int selected = -1;
    if (view.ShowConfigList(Lang(LE_ListOfConfigurations), Lang(LE_OK), items, selected) !=
        EModalResult::OK)
        return std::nullopt;
    return selected;
}

bool TForm_Main::ConfirmTagPlaced() {
    TMessageButtons b;
    b.OK = Lang(LE_OK);
    b.Cancel = Lang(LE_Cancel);
    return view.ShowMessageBox(Lang(LE_PlaceOverTestCardWithTag), "", EMsgStyle::OKCancel, b) ==
           EModalResult::OK;
}

bool TForm_Main::AskCombine() {
    TMessageButtons b;
    b.OK = Lang(LE_Yes);
    b.Cancel = Lang(LE_No);
    return view.ShowMessageBox(Lang(LE_AskSecondMeasurement), Lang(LE_AskCombineMeasurements),
                               EMsgStyle::YesNo, b) == EModalResult::Yes;
}

void TForm_Main::MeasurementAdded(const TMeasureSet& set) {
    const TMeasureSet* added = &set;
    view.SetListCount(EList::Measurements, static_cast<int>(MeasureList.size()));
    SortByPresentMode();
    view.RepaintList(EList::Measurements);
    for (std::size_t i = 0; i < MeasureList.size(); ++i)
        if (MeasureList[i].get() == added) view.SelectMeasurement(static_cast<int>(i));
    view.SetEnabled(EControl::Menu_SaveFile, true);
    view.SetEnabled(EControl::Button_Save, true);
    NoteListChanged();
    if (OnMeasurementAdded) OnMeasurementAdded(*this, *added);
    const int savesBefore = saveCount_;
    SaveAsConfigured();
    addedMeasurement_.emplace(added->TestID, saveCount_ != savesBefore ? lastSavedPath_ : "");
}

void TForm_Main::AbortEvaluation() {
    session_->AbortEvaluation();
}

}  // namespace kyvo
