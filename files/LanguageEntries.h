#pragma once

// The built-in English texts of every text the program shows. Header-only so
// that layers below files/ can name their texts without linking it.

#include <array>
#include <cstdint>
#include <string_view>

#include "testdata/ResultTexts.h"

namespace kyvo {

// Looked up like the others but never learned into the language file: states
// without a status text show it.
inline constexpr std::uint32_t kEmptyLangID = 9999;
inline constexpr TLangEntry LE_Empty{kEmptyLangID, ""};

inline constexpr TLangEntry LE_Language{1, "Language"};
inline constexpr TLangEntry LE_Menu{2, "Menu"};
inline constexpr TLangEntry LE_Connect{3, "Connect"};
inline constexpr TLangEntry LE_Disconnect{4, "Disconnect"};
inline constexpr TLangEntry LE_NoDevice{6, "-- no device --"};
inline constexpr TLangEntry LE_Refresh{9, "Refresh"};
inline constexpr TLangEntry LE_ConnectedTo{10, "Connected to"};
inline constexpr TLangEntry LE_Cancel{15, "Cancel"};
inline constexpr TLangEntry LE_DateFormat{19, "MM/dd/yyyy"};
inline constexpr TLangEntry LE_Version{20, "Version"};
inline constexpr TLangEntry LE_TestName{25, "Test name"};
inline constexpr TLangEntry LE_LotNumber{26, "Lot number"};
inline constexpr TLangEntry LE_DistributorManufacturer{27, "Distributor/Manufacturer"};
inline constexpr TLangEntry LE_MinValue{41, "Min value"};
inline constexpr TLangEntry LE_Class{47, "Class"};
inline constexpr TLangEntry LE_ResultName{63, "Result name"};
inline constexpr TLangEntry LE_ResultUnit{64, "Result unit"};
inline constexpr TLangEntry LE_Result{67, "Result"};
inline constexpr TLangEntry LE_BinaryFileFilter{82, "Binary file|*.bin"};
inline constexpr TLangEntry LE_Baud{84, "baud"};
inline constexpr TLangEntry LE_KyvoTime{88, "Kyvo time"};
inline constexpr TLangEntry LE_TsvFileFilter{104, "Tab-separated values|*.tsv"};
inline constexpr TLangEntry LE_DateSeparator{105, "/"};
inline constexpr TLangEntry LE_TestID{106, "Test ID"};
inline constexpr TLangEntry LE_DateTime{107, "Date / Time"};
inline constexpr TLangEntry LE_Voltage{108, "Voltage"};
inline constexpr TLangEntry LE_Temperature{109, "Temperature"};
inline constexpr TLangEntry LE_UserComments{111, "User comments"};
inline constexpr TLangEntry LE_StartMeasurement{113, "Start measurement"};
inline constexpr TLangEntry LE_OK{114, "OK"};
inline constexpr TLangEntry LE_LoadDataFromFile{115, "Load data from file"};
inline constexpr TLangEntry LE_SaveDataToFile{116, "Save data to file"};
inline constexpr TLangEntry LE_ReadDataFromKyvo{117, "Read data from kyvo"};
inline constexpr TLangEntry LE_EditAddUserComment{121, "Edit/add user comment"};
inline constexpr TLangEntry LE_DeleteEntry{122, "Delete entry"};
inline constexpr TLangEntry LE_FormatKyvoDatabase{124, "Format kyvo database"};
inline constexpr TLangEntry LE_AutoConnect{130, "Auto connect"};
inline constexpr TLangEntry LE_SetSystemTime{131, "Set system time"};
inline constexpr TLangEntry LE_ShutdownOnDisconnect{150, "Shutdown kyvo on disconnect"};
inline constexpr TLangEntry LE_SetImagePosition{151, "Set image position"};
inline constexpr TLangEntry LE_Left{152, "Left"};
inline constexpr TLangEntry LE_Right{153, "Right"};
inline constexpr TLangEntry LE_FullWidth{154, "Full width"};
inline constexpr TLangEntry LE_Close{155, "Close"};
inline constexpr TLangEntry LE_Setup{171, "Setup"};
inline constexpr TLangEntry LE_DataManagement{172, "Data management"};
inline constexpr TLangEntry LE_AddNewDataToExisting{173, "Add new data to existing"};
inline constexpr TLangEntry LE_OverwriteExistingData{174, "Overwrite existing data"};
inline constexpr TLangEntry LE_AlwaysAsk{175, "Always ask"};
inline constexpr TLangEntry LE_LoadLastUsedFileOnStart{176, "Load last used file on start"};
inline constexpr TLangEntry LE_TimerMeasure{184, "Timer measure"};
inline constexpr TLangEntry LE_DeleteMeasurementList{190, "Delete measurement list"};
inline constexpr TLangEntry LE_ListOfConfigurations{200, "List of configurations"};
inline constexpr TLangEntry LE_Validity{202, "Validity"};
inline constexpr TLangEntry LE_LoadFromFile{222, "Load from file"};
inline constexpr TLangEntry LE_LoadThroughDevice{223, "Load through device"};
inline constexpr TLangEntry LE_SelectSource{224, "Select source"};
inline constexpr TLangEntry LE_MeanValue{225, "Mean value"};
inline constexpr TLangEntry LE_MaxValue{226, "Max value"};
inline constexpr TLangEntry LE_LeftMean{227, "Left mean"};
inline constexpr TLangEntry LE_RightMean{228, "Right mean"};
inline constexpr TLangEntry LE_PositionOfMaximum{229, "Position of maximum"};
inline constexpr TLangEntry LE_UsedPixel{230, "Used pixel"};
inline constexpr TLangEntry LE_CenterPosition{231, "Center position"};
inline constexpr TLangEntry LE_LineWidth{232, "Line width"};
inline constexpr TLangEntry LE_ImageData{233, "Image data"};
inline constexpr TLangEntry LE_DoNotDisplayImage{234, "Do not display image"};
inline constexpr TLangEntry LE_Info{241, "Info"};
inline constexpr TLangEntry LE_ShortcutSave{242, "Ctrl+S"};
inline constexpr TLangEntry LE_ShortcutLoad{243, "Ctrl+L"};
inline constexpr TLangEntry LE_SelectMeasurementSource{260, "Select measurement source"};
inline constexpr TLangEntry LE_Kyvo{261, "Kyvo"};
inline constexpr TLangEntry LE_LocalFileSystem{262, "Local file system"};
inline constexpr TLangEntry LE_SelectOnStartOfMeasurement{263, "Select on start of measurement"};
inline constexpr TLangEntry LE_CombineMeasurements{265, "Combine measurements"};
inline constexpr TLangEntry LE_Ready{500, "Ready"};
inline constexpr TLangEntry LE_ConnectionFailed{501, "Connection failed"};
inline constexpr TLangEntry LE_WaitingForDeviceTimeOut{502, "Waiting for device: time out."};
inline constexpr TLangEntry LE_ConnectionClosedDataLoss{503,
                                                        "Connection closed (possible data loss)"};
inline constexpr TLangEntry LE_RS232Error{504, "RS232 Error"};
inline constexpr TLangEntry LE_UnknownError{505, "Unknown error"};
inline constexpr TLangEntry LE_PortNotOpened{506, "Port not opened"};
inline constexpr TLangEntry LE_FTDIError{509, "FTDI error"};
inline constexpr TLangEntry LE_SendingData{513, "Sending data"};
inline constexpr TLangEntry LE_ReceivingData{514, "Receiving data"};
inline constexpr TLangEntry LE_ByteWrittenToAddress{520, "byte written successful to address"};
inline constexpr TLangEntry LE_SNFirmware{521, "SN / Firmware"};
inline constexpr TLangEntry LE_CommErrorCode{522, "(Comm) Error Code:"};
inline constexpr TLangEntry LE_KyvoErrorCode{523, "(Kyvo) Error Code:"};
inline constexpr TLangEntry LE_RFIDTagFound{524, "RFID tag found"};
inline constexpr TLangEntry LE_UnknownCommand{525, "Unknown command"};
inline constexpr TLangEntry LE_Evaluating{530, "Evaluating"};
inline constexpr TLangEntry LE_CRCMismatch{533, "CRC mismatch"};
inline constexpr TLangEntry LE_BufferOverflow{534, "Buffer overflow"};
inline constexpr TLangEntry LE_NotEnoughMemory{535, "Not enough memory"};
inline constexpr TLangEntry LE_CommandError{536, "Command error"};
inline constexpr TLangEntry LE_NoImageData{537, "No image data"};
inline constexpr TLangEntry LE_InvalidFlags{538, "Invalid flags"};
inline constexpr TLangEntry LE_WriteBufferOverflow{539, "Write buffer overflow"};
inline constexpr TLangEntry LE_WriteInvalidAddress{540, "Write invalid address"};
inline constexpr TLangEntry LE_ReadInvalidLocation{541, "Read invalid location"};
inline constexpr TLangEntry LE_ReadNoData{542, "Read no data"};
inline constexpr TLangEntry LE_WriteMemoryOverflow{543, "Write memory overflow"};
inline constexpr TLangEntry LE_WriteFlashFailed{544, "Write flash failed"};
inline constexpr TLangEntry LE_ExpiryDateExceeded{545, "Expiry date exceeded"};
inline constexpr TLangEntry LE_LowBattery{546, "Low battery"};
inline constexpr TLangEntry LE_CaptureError{547, "Capture error"};
inline constexpr TLangEntry LE_NominalPositionOutOfRange{548, "Nominal position out of range"};
inline constexpr TLangEntry LE_SearchWidthTooSmall{
    549, "Search width has to be greater than line width"};
inline constexpr TLangEntry LE_ConfigurationInvalid{550, "Configuration is invalid"};
inline constexpr TLangEntry LE_RFIDError{552, "RFID Error"};
inline constexpr TLangEntry LE_ReadError{553, "Read error"};
inline constexpr TLangEntry LE_LoadResultError{554, "Load result error"};
inline constexpr TLangEntry LE_InternalFlashWriteError{555, "Internal flash write error"};
inline constexpr TLangEntry LE_FileInUse{
    556,
    "The file is currently in use by another application.\r\nPlease close the application and try "
    "again."};
inline constexpr TLangEntry LE_AskAddToSelectedFile{
    562,
    "Do you want to add the data to the selected file?\r\nIf not, the file will be overwritten "
    "with "
    "the new data."};
inline constexpr TLangEntry LE_AskAddToCurrentList{
    563,
    "Add the new content to current list?\r\nIf not, the list will be overwritten with the new "
    "content."};
inline constexpr TLangEntry LE_AskFormatDatabase{564, "Do you really want to format the database?"};
inline constexpr TLangEntry LE_Formatting{565, "Formatting"};
inline constexpr TLangEntry LE_DatabaseFormatted{566, "Database has been successfully formatted."};
inline constexpr TLangEntry LE_Connecting{567, "Connecting"};
inline constexpr TLangEntry LE_ConnectionClosed{568, "The connection has been closed."};
inline constexpr TLangEntry LE_CommentsResponsibility{
    569, "All comments added to the measurements are solely in the users responsibility."};
inline constexpr TLangEntry LE_AskSaveBeforeOpening{
    570, "Opening a file will overwrite the current list. Save it before?"};
inline constexpr TLangEntry LE_KyvoDisconnected{574, "Kyvo has been disconnected!"};
inline constexpr TLangEntry LE_Disconnected{575, "disconnected"};
inline constexpr TLangEntry LE_AskDeleteSelectedEntry{578, "Delete the selected entry?"};
inline constexpr TLangEntry LE_KyvoDatabaseEmpty{582, "The kyvo database is empty."};
inline constexpr TLangEntry LE_KyvoBusy{583, "Kyvo busy"};
inline constexpr TLangEntry LE_KyvoBusyPleaseWait{
    586, "The kyvo is busy. Please wait until it is in Ready-state."};
inline constexpr TLangEntry LE_ConfigWrongVersionNotLoaded{
    587, "The test configuration has the wrong version and can not be loaded."};
inline constexpr TLangEntry LE_FileNotFound{590, "The file could not be found: "};
inline constexpr TLangEntry LE_RFIDTagTooSmall{
    591,
    "The RFID tag has not enough capacity to hold the data. Please use a tag with more memory."};
inline constexpr TLangEntry LE_MeasurementCountLimit{
    592, "The measurement count limitation has been reached."};
inline constexpr TLangEntry LE_ResultAssignIllegalIndex{
    595, "Result assignement: an illegal index has been found."};
inline constexpr TLangEntry LE_ResultAssignIllegalChar{
    596, "Result assignment: an illegal char has been found."};
inline constexpr TLangEntry LE_ResultAssignIllegalJumpOperation{
    597, "Result assignment: an illegal jump operation has been found."};
inline constexpr TLangEntry LE_ResultAssignIllegalNumber{
    598, "Result assignment: an illegal number has been found."};
inline constexpr TLangEntry LE_ResultAssignMissingOperand{
    599, "Result assignment: an expected operand could not be found."};
inline constexpr TLangEntry LE_ResultAssignIllegalJumpAddress{
    600, "Result assignment: an illegal jump address has been found."};
inline constexpr TLangEntry LE_ResultAssignIllegalAssignment{
    601, "Result assignment: an illegal assignment has been found."};
inline constexpr TLangEntry LE_ResultAssignOperandNaN{
    602, "Result assignment: an operand is NaN (Not a Number)."};
inline constexpr TLangEntry LE_ResultAssignInfiniteLoop{
    603, "Result assignemnt: an infinite loop has been found."};
inline constexpr TLangEntry LE_RFIDErrorTimeOut{604, "RFID Error: time out."};
inline constexpr TLangEntry LE_RFIDErrorStatusError{605, "RFID Error: status error."};
inline constexpr TLangEntry LE_RFIDErrorCollision{
    606, "RFID Error: collision (more than one tag in range)."};
inline constexpr TLangEntry LE_RFIDErrorNothingReceived{607, "RFID Error: nothing received."};
inline constexpr TLangEntry LE_RFIDErrorUnencryptedTag{
    608, "RFID Error: reading of an unencrypted tag is not allowed."};
inline constexpr TLangEntry LE_RFIDErrorAuthentificationFailed{
    609, "RFID Error: authentification failed."};
inline constexpr TLangEntry LE_RFIDErrorWriteFail{610, "RFID Error: write fail."};
inline constexpr TLangEntry LE_ConfigWrongVersion{611,
                                                  "The test configuration has the wrong version."};
inline constexpr TLangEntry LE_AbortedByUser{612, "Aborted by user."};
inline constexpr TLangEntry LE_EvaluationStartsIn{613, "The evaluation starts in "};
inline constexpr TLangEntry LE_PlaceOverWhiteCard{
    614, "Place device over white card and press device button."};
inline constexpr TLangEntry LE_PlaceOverTestCard{
    615, "Place device over test card and press device button."};
inline constexpr TLangEntry LE_TestEvaluationRunning{616, "Test evaluation is running..."};
inline constexpr TLangEntry LE_NoTestConfigurationFound{617, "No test configuration found."};
inline constexpr TLangEntry LE_PlaceOverTestCardWithTag{
    618,
    "Please place the device over the test card and the RFID-tag with the test configuration over "
    "the device and press OK."};
inline constexpr TLangEntry LE_AskDeleteAllEntries{619, "Delete all entries in the current list?"};
inline constexpr TLangEntry LE_ConfigChecksumWrong{
    625, "The checksum of the test configuration is not correct. The data could be corrupted."};
inline constexpr TLangEntry LE_CustomerInvalidForDevice{
    629, "The customer specified in the config is invalid for the device."};
inline constexpr TLangEntry LE_SelectConfigSource{
    638, "Please select a source for the test configuration you want to run."};
inline constexpr TLangEntry LE_Yes{645, "Yes"};
inline constexpr TLangEntry LE_No{646, "No"};
inline constexpr TLangEntry LE_FileReadError{647,
                                             "An error occured while reading data from the file. "
                                             "Please check if the selected file is correct."};
inline constexpr TLangEntry LE_IncompatibleFile{648, "Incompatible file"};
inline constexpr TLangEntry LE_ConfigsNotIdentical{
    657,
    "The test configurations are not identical. The measurements will be handled as single ones."};
inline constexpr TLangEntry LE_AskSecondMeasurement{
    658, "Start a second measurement with the same test configuration and combine the results?"};
inline constexpr TLangEntry LE_AskCombineMeasurements{659, "Combine measurements?"};
inline constexpr TLangEntry LE_AskSaveBeforeClosing{
    665, "Do you want to save the data before closing the program?"};
inline constexpr TLangEntry LE_IncompatibleSaveFormat{
    668,
    "The data format in the chosen file is incompatible with the current data save format. Please "
    "change the data save format through the config file or select a compatible file."};
inline constexpr TLangEntry LE_HintConnect{700, "Establish a connection to the device."};
inline constexpr TLangEntry LE_HintDisconnect{701, "Close the connection to the device."};
inline constexpr TLangEntry LE_HintKyvoTime{
    762, "Date/Time of the connected device. Use right mouse button to update it to system time."};
inline constexpr TLangEntry LE_HintFirmwareVersion{
    763, "Displays the firmware version of the connected device."};
inline constexpr TLangEntry LE_HintStartMeasurement{766,
                                                    "Start a new measurement and get the results."};
inline constexpr TLangEntry LE_HintTimerMeasure{
    770, "Start a measurement using timer (if declared in test configuration)."};
inline constexpr TLangEntry LE_PortMissing{800, "This port does not exist:"};
inline constexpr TLangEntry LE_PortInUse{801, "This port is in use by another program:"};
inline constexpr TLangEntry LE_PortNotPermitted{802, "You may not open this port:"};
inline constexpr TLangEntry LE_PortAccessHelp{
    803,
    "To get access, copy 70-kyvo-cable.rules to /etc/udev/rules.d and plug the cable in again, "
    "or join the dialout group (sudo usermod -aG dialout $USER) and log in again."};
inline constexpr TLangEntry LE_PortOpenFailed{804, "This port cannot be opened:"};
inline constexpr TLangEntry LE_ResultFileNotSaved{
    830, "The measurements could not be saved. The file keeps its previous content."};
inline constexpr TLangEntry LE_SaveError{831, "Save error"};
inline constexpr TLangEntry LE_ResultFileTooLarge{
    832, "The file is too large to be a result file and was not loaded: "};
inline constexpr TLangEntry LE_ReceivingPointers{860, "Receiving data: storage pointers"};
inline constexpr TLangEntry LE_ReceivingResultConfigs{861, "Receiving data: result configurations"};
inline constexpr TLangEntry LE_ReceivingResults{862, "Receiving data: results"};
// %1 and %2 stand for the numbers.
inline constexpr TLangEntry LE_MeasurementsReadNew{863, "%1 measurements read, %2 of them new."};
// %1 stands for the file's path.
inline constexpr TLangEntry LE_ListSavedTo{864, "List saved to %1"};
inline constexpr TLangEntry LE_ListLoadedFrom{865, "List loaded from %1"};
// %1 stands for the measurement's test ID, %2 for the file's path.
inline constexpr TLangEntry LE_MeasurementAdded{870, "Measurement %1 added."};
inline constexpr TLangEntry LE_MeasurementAddedAndSaved{871,
                                                        "Measurement %1 added, list saved to %2"};
// %1 stands for the date and time sent to the device.
inline constexpr TLangEntry LE_DeviceClockSet{872, "Device clock set to %1."};
// %1 stands for the number of measurements.
inline constexpr TLangEntry LE_AskRestoreUnsavedList{
    873,
    "The program was ended last time before its measurement list (%1 measurements) was "
    "saved.\r\nLoad that list now?"};
inline constexpr TLangEntry LE_UnsavedListNotRecovered{
    874, "The measurement list of the last run could not be recovered: "};

inline constexpr TLangEntry LE_ExportReportPdf{900, "Export report (PDF)…"};
inline constexpr TLangEntry LE_PrintReport{901, "Print…"};
inline constexpr TLangEntry LE_ExportData{902, "Export…"};
inline constexpr TLangEntry LE_MeasurementReport{903, "Measurement report"};
inline constexpr TLangEntry LE_ReportCreated{904, "Created"};
inline constexpr TLangEntry LE_PageNofM{905, "Page %1 of %2"};
inline constexpr TLangEntry LE_LineProfile{906, "Line profile"};
inline constexpr TLangEntry LE_PdfFileFilter{907, "PDF document|*.pdf"};
inline constexpr TLangEntry LE_CsvResultsFilter{908, "CSV, one row per result|*.csv"};
inline constexpr TLangEntry LE_CsvLinesFilter{909, "CSV, one row per line result|*.csv"};
inline constexpr TLangEntry LE_JsonFileFilter{910, "JSON document|*.json"};
inline constexpr TLangEntry LE_FileWriteError{911, "The file could not be written: "};
inline constexpr TLangEntry LE_NothingToExport{912, "There are no measurements to export."};
inline constexpr TLangEntry LE_Program{913, "Program"};
// Trend chart and summary report.
inline constexpr TLangEntry LE_SummaryReport{1100, "Summary report"};
inline constexpr TLangEntry LE_SummaryQc{1101, "QC"};
inline constexpr TLangEntry LE_TrendTextOnly{1103, "Text only"};
// %1 stands for the number of measurements.
inline constexpr TLangEntry LE_SummaryScopeSelection{1104, "Selected measurements: %1"};
// %1 stands for the filter's terms.
inline constexpr TLangEntry LE_SummaryScopeFilter{1105, "Filter: %1"};
inline constexpr TLangEntry LE_SummaryReportMenu{1106, "Summary report (PDF)…"};
inline constexpr TLangEntry LE_TrendChart{1107, "Trend"};
inline constexpr TLangEntry LE_TrendResult{1108, "Result"};
inline constexpr TLangEntry LE_TrendColourBy{1109, "Colour by"};
inline constexpr TLangEntry LE_TrendByDevice{1110, "Device"};
inline constexpr TLangEntry LE_TrendByLot{1111, "Lot"};
inline constexpr TLangEntry LE_TrendFit{1112, "Fit"};
// %1 points drawn, %2 of them only texts, %3 invalid, %4 without a calendar date.
inline constexpr TLangEntry LE_TrendCounts{
    1113, "%1 measurements, %2 as text, %3 invalid, %4 without date"};
inline constexpr TLangEntry LE_TrendNoResults{1114, "No results to chart."};
inline constexpr TLangEntry LE_SummaryAll{1115, "all measurements"};
// %1 stands for the number of measurements.
inline constexpr TLangEntry LE_SummaryCount{1116, "%1 measurements"};
inline constexpr TLangEntry LE_TrendHint{
    1117, "Wheel: zoom (Shift: values only, Ctrl: time only); drag: move; click: select"};
inline constexpr TLangEntry LE_ArchiveMenu{950, "Archive…"};
inline constexpr TLangEntry LE_ArchiveTitle{951, "Archive"};
inline constexpr TLangEntry LE_ArchiveLocationMenu{952, "Archive location…"};
inline constexpr TLangEntry LE_ArchiveLocationPrompt{
    953, "Archive location (sqlite:PATH or postgresql://…; empty: the archive on this PC):"};
inline constexpr TLangEntry LE_ArchiveSearch{954, "Search words"};
inline constexpr TLangEntry LE_ArchiveFrom{955, "From"};
inline constexpr TLangEntry LE_ArchiveTo{956, "To"};
inline constexpr TLangEntry LE_ArchiveTest{957, "Test"};
inline constexpr TLangEntry LE_ArchiveLot{958, "Lot"};
inline constexpr TLangEntry LE_ArchiveDevice{959, "Device"};
inline constexpr TLangEntry LE_ArchiveClearFilter{960, "Clear filter"};
inline constexpr TLangEntry LE_ArchiveAnyDate{961, "any"};
inline constexpr TLangEntry LE_ArchiveDeviceSerial{962, "Device serial"};
inline constexpr TLangEntry LE_ArchivePatientId{963, "Patient ID"};
inline constexpr TLangEntry LE_ArchiveResults{964, "Results"};
inline constexpr TLangEntry LE_ArchiveCount{965, "%1 measurements"};
inline constexpr TLangEntry LE_ArchiveOpening{966, "Opening the archive %1 …"};
inline constexpr TLangEntry LE_ArchiveUnreachable{967, "The archive cannot be reached: %1"};
inline constexpr TLangEntry LE_ArchiveNewerSchema{
    968, "The archive was made by a newer program version and is left unchanged: %1"};
inline constexpr TLangEntry LE_ArchiveNotAnArchive{969, "This is not an archive: %1"};
inline constexpr TLangEntry LE_ArchiveError{970, "Archive error: %1"};
inline constexpr TLangEntry LE_ArchiveOpenInList{971, "Open in list"};
inline constexpr TLangEntry LE_ArchiveOpenedIntoList{
    972, "%1 measurements taken from the archive, %2 of them already in the list."};
inline constexpr TLangEntry LE_ArchiveTooManySelected{973,
                                                      "Select at most %1 measurements for this."};
inline constexpr TLangEntry LE_ArchiveNothingSelected{974,
                                                      "Select one or more measurements first."};
inline constexpr TLangEntry LE_ArchiveReport{975, "Report (PDF)…"};
inline constexpr TLangEntry LE_ArchiveMeasurement{976, "Measurement"};

// %1 stands for the number of measurements that wait.
inline constexpr TLangEntry LE_ArchiveWaiting{
    980, "The archive cannot be reached: %1 measurements wait and go into it later."};
inline constexpr TLangEntry LE_ArchiveReachableAgain{
    981, "The archive can be reached again; every waiting measurement is in it."};

// The LIS: its column, status bar panel, action and connection settings.
// %1 (and %2) stand for counts, a time or the LIS's own words.
inline constexpr TLangEntry LE_LisColumn{1000, "LIS"};
inline constexpr TLangEntry LE_LisSent{1001, "Sent"};
inline constexpr TLangEntry LE_LisWaiting{1002, "Waiting"};
inline constexpr TLangEntry LE_LisHeld{1003, "Held"};
inline constexpr TLangEntry LE_LisPanelWaiting{1004, "LIS: %1 waiting"};
inline constexpr TLangEntry LE_LisPanelHeld{1005, "LIS: %1 held, %2 waiting"};
inline constexpr TLangEntry LE_LisPanelNothing{1006, "LIS: nothing waiting"};
inline constexpr TLangEntry LE_LisPanelOff{1007, "LIS: off"};
inline constexpr TLangEntry LE_LisPanelNoArchive{1008, "LIS: the archive cannot be read: %1"};
inline constexpr TLangEntry LE_LisTipSent{1009, "Sent to the LIS at %1"};
inline constexpr TLangEntry LE_LisTipWaiting{1010, "Waiting to be sent to the LIS"};
inline constexpr TLangEntry LE_LisTipWaitingReason{
    1011, "Waiting to be sent to the LIS; the last try failed: %1"};
inline constexpr TLangEntry LE_LisTipHeld{
    1012, "Held: the LIS refused it (%1). Fix the cause and send it again."};
inline constexpr TLangEntry LE_LisPanelTip{
    1013, "Click to open the archive: its LIS column shows what is held and why."};
inline constexpr TLangEntry LE_LisSendAction{1014, "Send to LIS"};
inline constexpr TLangEntry LE_LisQueued{1015, "%1 measurements queued for the LIS."};
inline constexpr TLangEntry LE_LisNotArchived{
    1016, "%1 of the selected measurements are not in the archive yet and cannot be sent."};
inline constexpr TLangEntry LE_LisSendingOff{
    1017,
    "Sending to the LIS is switched off (Setup, LIS connection…); the measurements wait until it "
    "is switched on."};
inline constexpr TLangEntry LE_LisSettingsMenu{1018, "LIS connection…"};
inline constexpr TLangEntry LE_LisSettingsTitle{1019, "LIS connection"};
inline constexpr TLangEntry LE_LisEnabled{1020, "Send results to the LIS"};
inline constexpr TLangEntry LE_LisHost{1021, "Host"};
inline constexpr TLangEntry LE_LisPort{1022, "Port"};
inline constexpr TLangEntry LE_LisTls{1023, "TLS (MLLP inside TLS, server name checked)"};
inline constexpr TLangEntry LE_LisCaFile{1024, "CA certificates"};
inline constexpr TLangEntry LE_LisCertFile{1025, "Client certificate"};
inline constexpr TLangEntry LE_LisKeyFile{1026, "Client key"};
inline constexpr TLangEntry LE_LisBrowse{1027, "Browse…"};
inline constexpr TLangEntry LE_LisSendingApplication{1028, "Sending application (MSH-3)"};
inline constexpr TLangEntry LE_LisSendingFacility{1029, "Sending facility (MSH-4)"};
inline constexpr TLangEntry LE_LisReceivingApplication{1030, "Receiving application (MSH-5)"};
inline constexpr TLangEntry LE_LisReceivingFacility{1031, "Receiving facility (MSH-6)"};
inline constexpr TLangEntry LE_LisProcessing{1032, "Processing"};
inline constexpr TLangEntry LE_LisProduction{1033, "P: production"};
inline constexpr TLangEntry LE_LisTestSystem{1034, "T: test system"};
inline constexpr TLangEntry LE_LisAutomatic{1035, "Send automatically (otherwise only on request)"};
inline constexpr TLangEntry LE_LisAckTimeout{1036, "Acknowledgement time-out (s)"};
inline constexpr TLangEntry LE_LisMappingFile{1037, "Code mapping file"};
inline constexpr TLangEntry LE_LisSendControls{1038, "Send control measurements too"};
inline constexpr TLangEntry LE_LisSettingsIncomplete{
    1039, "Enter the LIS host and a port from 1 to 65535."};
inline constexpr TLangEntry LE_LisTlsIncomplete{
    1040, "TLS needs a CA certificates file; a client certificate needs its key."};
inline constexpr TLangEntry LE_LisServerName{1041,
                                             "Server name in its certificate (empty: the host)"};
// The window's quality control: materials, roles, Levey-Jennings view, flags.
inline constexpr TLangEntry LE_QcMenu{1050, "Quality control…"};
inline constexpr TLangEntry LE_QcMaterialsMenu{1051, "Control materials…"};
inline constexpr TLangEntry LE_QcMaterialsTitle{1052, "Control materials"};
inline constexpr TLangEntry LE_QcName{1053, "Name"};
inline constexpr TLangEntry LE_QcResultName{1054, "Result"};
inline constexpr TLangEntry LE_QcLevel{1055, "Level"};
inline constexpr TLangEntry LE_QcMean{1056, "Mean"};
inline constexpr TLangEntry LE_QcSd{1057, "SD"};
inline constexpr TLangEntry LE_QcExpires{1058, "Expires"};
inline constexpr TLangEntry LE_QcOpened{1059, "Opened"};
inline constexpr TLangEntry LE_QcPatientIdPrefix{1060, "Patient ID prefix"};
inline constexpr TLangEntry LE_QcRetired{1061, "Retired"};
inline constexpr TLangEntry LE_QcAdd{1062, "Add…"};
inline constexpr TLangEntry LE_QcNewLot{1063, "New lot…"};
inline constexpr TLangEntry LE_QcRetire{1064, "Retire"};
inline constexpr TLangEntry LE_QcAskRetire{
    1065, "Retire the control material %1? Its values and violations stay in the archive."};
inline constexpr TLangEntry LE_QcMaterialInvalid{
    1066,
    "A control material needs a name, a test, a result, a lot, a level from 1 to 3, a mean and a "
    "standard deviation above 0."};
inline constexpr TLangEntry LE_QcMarkControl{1067, "Mark as control…"};
inline constexpr TLangEntry LE_QcMarkPatient{1068, "Mark as patient"};
inline constexpr TLangEntry LE_QcChooseMaterial{
    1069, "The selected measurements are controls of this material:"};
inline constexpr TLangEntry LE_QcNoMaterials{
    1070, "There is no control material yet. Define one under “Control materials…” first."};
inline constexpr TLangEntry LE_QcTitle{1071, "Quality control"};
inline constexpr TLangEntry LE_QcMaterial{1072, "Material"};
inline constexpr TLangEntry LE_QcRule{1073, "Rule"};
inline constexpr TLangEntry LE_QcSeverity{1074, "Severity"};
inline constexpr TLangEntry LE_QcMeasurements{1075, "Measurements"};
inline constexpr TLangEntry LE_QcAcknowledged{1076, "Acknowledged"};
inline constexpr TLangEntry LE_QcAcknowledge{1077, "Acknowledge…"};
inline constexpr TLangEntry LE_QcAcknowledgePrompt{1078, "Note on the violation %1:"};
inline constexpr TLangEntry LE_QcWarning{1079, "warning"};
inline constexpr TLangEntry LE_QcReject{1080, "reject"};
inline constexpr TLangEntry LE_QcColumn{1081, "QC"};
inline constexpr TLangEntry LE_QcFailed{1082, "QC failed"};
inline constexpr TLangEntry LE_QcRole{1083, "Role"};
inline constexpr TLangEntry LE_QcControl{1084, "control"};
inline constexpr TLangEntry LE_QcPatient{1085, "patient"};
inline constexpr TLangEntry LE_QcFailedTip{
    1086, "QC failed: the newest control of this test on this device is rejected (%1)."};
inline constexpr TLangEntry LE_QcLotSeries{1087, "Lot %1"};
inline constexpr TLangEntry LE_QcNoViolations{1088, "No violations."};
inline constexpr TLangEntry LE_QcShowAll{1089, "All measurements"};
inline constexpr TLangEntry LE_QcShowPatients{1090, "Patients only"};
inline constexpr TLangEntry LE_QcShowControls{1091, "Controls only"};
inline constexpr TLangEntry LE_QcNoteNeeded{1092, "An acknowledgement needs a note."};
inline constexpr TLangEntry LE_QcAllLots{1093, "All lots (in SD)"};
inline constexpr TLangEntry LE_QcNoValues{1094, "No control values of this material yet."};
inline constexpr TLangEntry LE_QcRolesSet{1095, "%1 measurements marked."};
inline constexpr TLangEntry LE_QcNotInArchive{
    1096, "%1 of the selected measurements are not in the archive and were not marked."};
inline constexpr TLangEntry LE_QcValue{1097, "Value"};
inline constexpr TLangEntry LE_QcTime{1098, "Time"};
inline constexpr TLangEntry LE_QcNoNumber{1099, "no number"};
// The desktop notification of a reader read by kyvo-cli sync; %1 names the
// reader ("1807 0042"), %2 is the number.
inline constexpr TLangEntry LE_SyncReaderNewMeasurements{1150, "Reader %1: %2 new measurements"};
inline constexpr TLangEntry LE_SyncReaderNewMeasurement{1151, "Reader %1: 1 new measurement"};

// Every entry above, in ascending ID order.
inline constexpr std::array kLanguageEntries{
    LE_Language,
    LE_Menu,
    LE_Connect,
    LE_Disconnect,
    LE_NoDevice,
    LE_Refresh,
    LE_ConnectedTo,
    LE_Cancel,
    LE_DateFormat,
    LE_Version,
    LE_TestName,
    LE_LotNumber,
    LE_DistributorManufacturer,
    LE_MinValue,
    LE_Class,
    LE_ResultName,
    LE_ResultUnit,
    LE_Result,
    LE_BinaryFileFilter,
    LE_Baud,
    LE_KyvoTime,
    LE_TsvFileFilter,
    LE_DateSeparator,
    LE_TestID,
    LE_DateTime,
    LE_Voltage,
    LE_Temperature,
    LE_UserComments,
    LE_StartMeasurement,
    LE_OK,
    LE_LoadDataFromFile,
    LE_SaveDataToFile,
    LE_ReadDataFromKyvo,
    LE_EditAddUserComment,
    LE_DeleteEntry,
    LE_FormatKyvoDatabase,
    LE_AutoConnect,
    LE_SetSystemTime,
    LE_NotANumber,
    LE_ShutdownOnDisconnect,
    LE_SetImagePosition,
    LE_Left,
    LE_Right,
    LE_FullWidth,
    LE_Close,
    LE_Setup,
    LE_DataManagement,
    LE_AddNewDataToExisting,
    LE_OverwriteExistingData,
    LE_AlwaysAsk,
    LE_LoadLastUsedFileOnStart,
    LE_TimerMeasure,
    LE_DeleteMeasurementList,
    LE_ListOfConfigurations,
    LE_Validity,
    LE_Valid,
    LE_Invalid,
    LE_KyvoExpired,
    LE_LoadFromFile,
    LE_LoadThroughDevice,
    LE_SelectSource,
    LE_MeanValue,
    LE_MaxValue,
    LE_LeftMean,
    LE_RightMean,
    LE_PositionOfMaximum,
    LE_UsedPixel,
    LE_CenterPosition,
    LE_LineWidth,
    LE_ImageData,
    LE_DoNotDisplayImage,
    LE_Info,
    LE_ShortcutSave,
    LE_ShortcutLoad,
    LE_SelectMeasurementSource,
    LE_Kyvo,
    LE_LocalFileSystem,
    LE_SelectOnStartOfMeasurement,
    LE_CombineMeasurements,
    LE_Infinite,
    LE_Ready,
    LE_ConnectionFailed,
    LE_WaitingForDeviceTimeOut,
    LE_ConnectionClosedDataLoss,
    LE_RS232Error,
    LE_UnknownError,
    LE_PortNotOpened,
    LE_FTDIError,
    LE_SendingData,
    LE_ReceivingData,
    LE_ByteWrittenToAddress,
    LE_SNFirmware,
    LE_CommErrorCode,
    LE_KyvoErrorCode,
    LE_RFIDTagFound,
    LE_UnknownCommand,
    LE_Evaluating,
    LE_CRCMismatch,
    LE_BufferOverflow,
    LE_NotEnoughMemory,
    LE_CommandError,
    LE_NoImageData,
    LE_InvalidFlags,
    LE_WriteBufferOverflow,
    LE_WriteInvalidAddress,
    LE_ReadInvalidLocation,
    LE_ReadNoData,
    LE_WriteMemoryOverflow,
    LE_WriteFlashFailed,
    LE_ExpiryDateExceeded,
    LE_LowBattery,
    LE_CaptureError,
    LE_NominalPositionOutOfRange,
    LE_SearchWidthTooSmall,
    LE_ConfigurationInvalid,
    LE_RFIDError,
    LE_ReadError,
    LE_LoadResultError,
    LE_InternalFlashWriteError,
    LE_FileInUse,
    LE_AskAddToSelectedFile,
    LE_AskAddToCurrentList,
    LE_AskFormatDatabase,
    LE_Formatting,
    LE_DatabaseFormatted,
    LE_Connecting,
    LE_ConnectionClosed,
    LE_CommentsResponsibility,
    LE_AskSaveBeforeOpening,
    LE_KyvoDisconnected,
    LE_Disconnected,
    LE_AskDeleteSelectedEntry,
    LE_KyvoDatabaseEmpty,
    LE_KyvoBusy,
    LE_KyvoBusyPleaseWait,
    LE_ConfigWrongVersionNotLoaded,
    LE_FileNotFound,
    LE_RFIDTagTooSmall,
    LE_MeasurementCountLimit,
    LE_ResultAssignIllegalIndex,
    LE_ResultAssignIllegalChar,
    LE_ResultAssignIllegalJumpOperation,
    LE_ResultAssignIllegalNumber,
    LE_ResultAssignMissingOperand,
    LE_ResultAssignIllegalJumpAddress,
    LE_ResultAssignIllegalAssignment,
    LE_ResultAssignOperandNaN,
    LE_ResultAssignInfiniteLoop,
    LE_RFIDErrorTimeOut,
    LE_RFIDErrorStatusError,
    LE_RFIDErrorCollision,
    LE_RFIDErrorNothingReceived,
    LE_RFIDErrorUnencryptedTag,
    LE_RFIDErrorAuthentificationFailed,
    LE_RFIDErrorWriteFail,
    LE_ConfigWrongVersion,
    LE_AbortedByUser,
    LE_EvaluationStartsIn,
    LE_PlaceOverWhiteCard,
    LE_PlaceOverTestCard,
    LE_TestEvaluationRunning,
    LE_NoTestConfigurationFound,
    LE_PlaceOverTestCardWithTag,
    LE_AskDeleteAllEntries,
    LE_ConfigChecksumWrong,
    LE_CustomerInvalidForDevice,
    LE_SelectConfigSource,
    LE_Yes,
    LE_No,
    LE_FileReadError,
    LE_IncompatibleFile,
    LE_ConfigsNotIdentical,
    LE_AskSecondMeasurement,
    LE_AskCombineMeasurements,
    LE_AskSaveBeforeClosing,
    LE_IncompatibleSaveFormat,
    LE_HintConnect,
    LE_HintDisconnect,
    LE_HintKyvoTime,
    LE_HintFirmwareVersion,
    LE_HintStartMeasurement,
    LE_HintTimerMeasure,
    LE_PortMissing,
    LE_PortInUse,
    LE_PortNotPermitted,
    LE_PortAccessHelp,
    LE_PortOpenFailed,
    LE_ResultFileNotSaved,
    LE_SaveError,
    LE_ResultFileTooLarge,
    LE_ReceivingPointers,
    LE_ReceivingResultConfigs,
    LE_ReceivingResults,
    LE_MeasurementsReadNew,
    LE_ListSavedTo,
    LE_ListLoadedFrom,
    LE_MeasurementAdded,
    LE_MeasurementAddedAndSaved,
    LE_DeviceClockSet,
    LE_AskRestoreUnsavedList,
    LE_UnsavedListNotRecovered,
    LE_ExportReportPdf,
    LE_PrintReport,
    LE_ExportData,
    LE_MeasurementReport,
    LE_ReportCreated,
    LE_PageNofM,
    LE_LineProfile,
    LE_PdfFileFilter,
    LE_CsvResultsFilter,
    LE_CsvLinesFilter,
    LE_JsonFileFilter,
    LE_FileWriteError,
    LE_NothingToExport,
    LE_Program,
    LE_ArchiveMenu,
    LE_ArchiveTitle,
    LE_ArchiveLocationMenu,
    LE_ArchiveLocationPrompt,
    LE_ArchiveSearch,
    LE_ArchiveFrom,
    LE_ArchiveTo,
    LE_ArchiveTest,
    LE_ArchiveLot,
    LE_ArchiveDevice,
    LE_ArchiveClearFilter,
    LE_ArchiveAnyDate,
    LE_ArchiveDeviceSerial,
    LE_ArchivePatientId,
    LE_ArchiveResults,
    LE_ArchiveCount,
    LE_ArchiveOpening,
    LE_ArchiveUnreachable,
    LE_ArchiveNewerSchema,
    LE_ArchiveNotAnArchive,
    LE_ArchiveError,
    LE_ArchiveOpenInList,
    LE_ArchiveOpenedIntoList,
    LE_ArchiveTooManySelected,
    LE_ArchiveNothingSelected,
    LE_ArchiveReport,
    LE_ArchiveMeasurement,
    LE_ArchiveWaiting,
    LE_ArchiveReachableAgain,
    LE_LisColumn,
    LE_LisSent,
    LE_LisWaiting,
    LE_LisHeld,
    LE_LisPanelWaiting,
    LE_LisPanelHeld,
    LE_LisPanelNothing,
    LE_LisPanelOff,
    LE_LisPanelNoArchive,
    LE_LisTipSent,
    LE_LisTipWaiting,
    LE_LisTipWaitingReason,
    LE_LisTipHeld,
    LE_LisPanelTip,
    LE_LisSendAction,
    LE_LisQueued,
    LE_LisNotArchived,
    LE_LisSendingOff,
    LE_LisSettingsMenu,
    LE_LisSettingsTitle,
    LE_LisEnabled,
    LE_LisHost,
    LE_LisPort,
    LE_LisTls,
    LE_LisCaFile,
    LE_LisCertFile,
    LE_LisKeyFile,
    LE_LisBrowse,
    LE_LisSendingApplication,
    LE_LisSendingFacility,
    LE_LisReceivingApplication,
    LE_LisReceivingFacility,
    LE_LisProcessing,
    LE_LisProduction,
    LE_LisTestSystem,
    LE_LisAutomatic,
    LE_LisAckTimeout,
    LE_LisMappingFile,
    LE_LisSendControls,
    LE_LisSettingsIncomplete,
    LE_LisTlsIncomplete,
    LE_LisServerName,
    LE_QcMenu,
    LE_QcMaterialsMenu,
    LE_QcMaterialsTitle,
    LE_QcName,
    LE_QcResultName,
    LE_QcLevel,
    LE_QcMean,
    LE_QcSd,
    LE_QcExpires,
    LE_QcOpened,
    LE_QcPatientIdPrefix,
    LE_QcRetired,
    LE_QcAdd,
    LE_QcNewLot,
    LE_QcRetire,
    LE_QcAskRetire,
    LE_QcMaterialInvalid,
    LE_QcMarkControl,
    LE_QcMarkPatient,
    LE_QcChooseMaterial,
    LE_QcNoMaterials,
    LE_QcTitle,
    LE_QcMaterial,
    LE_QcRule,
    LE_QcSeverity,
    LE_QcMeasurements,
    LE_QcAcknowledged,
    LE_QcAcknowledge,
    LE_QcAcknowledgePrompt,
    LE_QcWarning,
    LE_QcReject,
    LE_QcColumn,
    LE_QcFailed,
    LE_QcRole,
    LE_QcControl,
    LE_QcPatient,
    LE_QcFailedTip,
    LE_QcLotSeries,
    LE_QcNoViolations,
    LE_QcShowAll,
    LE_QcShowPatients,
    LE_QcShowControls,
    LE_QcNoteNeeded,
    LE_QcAllLots,
    LE_QcNoValues,
    LE_QcRolesSet,
    LE_QcNotInArchive,
    LE_QcValue,
    LE_QcTime,
    LE_QcNoNumber,
    LE_SummaryReport,
    LE_SummaryQc,
    LE_TrendTextOnly,
    LE_SummaryScopeSelection,
    LE_SummaryScopeFilter,
    LE_SummaryReportMenu,
    LE_TrendChart,
    LE_TrendResult,
    LE_TrendColourBy,
    LE_TrendByDevice,
    LE_TrendByLot,
    LE_TrendFit,
    LE_TrendCounts,
    LE_TrendNoResults,
    LE_SummaryAll,
    LE_SummaryCount,
    LE_TrendHint,
    LE_SyncReaderNewMeasurements,
    LE_SyncReaderNewMeasurement,
};

}  // namespace kyvo
