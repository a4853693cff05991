#include "files/LanguageEntries.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>
#include <utility>

namespace kyvo {
namespace {

// The displayed texts as the translators' list gives them; a line break
// inside a text is CR LF, as the Windows program shows it.
constexpr std::pair<std::uint32_t, std::string_view> kExpected[] = {
    {1, "Language"},
    {2, "Menu"},
    {3, "Connect"},
    {4, "Disconnect"},
    {6, "-- no device --"},
    {9, "Refresh"},
    {10, "Connected to"},
    {15, "Cancel"},
    {19, "MM/dd/yyyy"},
    {20, "Version"},
    {25, "Test name"},
    {26, "Lot number"},
    {27, "Distributor/Manufacturer"},
    {41, "Min value"},
    {47, "Class"},
    {63, "Result name"},
    {64, "Result unit"},
    {67, "Result"},
    {82, "Binary file|*.bin"},
    {84, "baud"},
    {88, "Kyvo time"},
    {104, "Tab-separated values|*.tsv"},
    {105, "/"},
    {106, "Test ID"},
    {107, "Date / Time"},
    {108, "Voltage"},
    {109, "Temperature"},
    {111, "User comments"},
    {113, "Start measurement"},
    {114, "OK"},
    {115, "Load data from file"},
    {116, "Save data to file"},
    {117, "Read data from kyvo"},
    {121, "Edit/add user comment"},
    {122, "Delete entry"},
    {124, "Format kyvo database"},
    {130, "Auto connect"},
    {131, "Set system time"},
    {134, "Not a number"},
    {150, "Shutdown kyvo on disconnect"},
    {151, "Set image position"},
    {152, "Left"},
    {153, "Right"},
    {154, "Full width"},
    {155, "Close"},
    {171, "Setup"},
    {172, "Data management"},
    {173, "Add new data to existing"},
    {174, "Overwrite existing data"},
    {175, "Always ask"},
    {176, "Load last used file on start"},
    {184, "Timer measure"},
    {190, "Delete measurement list"},
    {200, "List of configurations"},
    {202, "Validity"},
    {203, "Valid"},
    {204, "Invalid"},
    {205, "Kyvo expired"},
    {222, "Load from file"},
    {223, "Load through device"},
    {224, "Select source"},
    {225, "Mean value"},
    {226, "Max value"},
    {227, "Left mean"},
    {228, "Right mean"},
    {229, "Position of maximum"},
    {230, "Used pixel"},
    {231, "Center position"},
    {232, "Line width"},
    {233, "Image data"},
    {234, "Do not display image"},
    {241, "Info"},
    {242, "Ctrl+S"},
    {243, "Ctrl+L"},
    {260, "Select measurement source"},
    {261, "Kyvo"},
    {262, "Local file system"},
    {263, "Select on start of measurement"},
    {265, "Combine measurements"},
    {274, "Infinite"},
    {500, "Ready"},
    {501, "Connection failed"},
    {502, "Waiting for device: time out."},
    {503, "Connection closed (possible data loss)"},
    {504, "RS232 Error"},
    {505, "Unknown error"},
    {506, "Port not opened"},
    {509, "FTDI error"},
    {513, "Sending data"},
    {514, "Receiving data"},
    {520, "byte written successful to address"},
    {521, "SN / Firmware"},
    {522, "(Comm) Error Code:"},
    {523, "(Kyvo) Error Code:"},
    {524, "RFID tag found"},
    {525, "Unknown command"},
    {530, "Evaluating"},
    {533, "CRC mismatch"},
    {534, "Buffer overflow"},
    {535, "Not enough memory"},
    {536, "Command error"},
    {537, "No image data"},
    {538, "Invalid flags"},
    {539, "Write buffer overflow"},
    {540, "Write invalid address"},
    {541, "Read invalid location"},
    {542, "Read no data"},
    {543, "Write memory overflow"},
    {544, "Write flash failed"},
    {545, "Expiry date exceeded"},
    {546, "Low battery"},
    {547, "Capture error"},
    {548, "Nominal position out of range"},
    {549, "Search width has to be greater than line width"},
    {550, "Configuration is invalid"},
    {552, "RFID Error"},
    {553, "Read error"},
    {554, "Load result error"},
    {555, "Internal flash write error"},
    {556,
     "The file is currently in use by another application.\r\nPlease close the application and try "
     "again."},
    {562,
     "Do you want to add the data to the selected file?\r\nIf not, the file will be overwritten "
     "with "
     "the new data."},
    {563,
     "Add the new content to current list?\r\nIf not, the list will be overwritten with the new "
     "content."},
    {564, "Do you really want to format the database?"},
    {565, "Formatting"},
    {566, "Database has been successfully formatted."},
    {567, "Connecting"},
    {568, "The connection has been closed."},
    {569, "All comments added to the measurements are solely in the users responsibility."},
    {570, "Opening a file will overwrite the current list. Save it before?"},
    {574, "Kyvo has been disconnected!"},
    {575, "disconnected"},
    {578, "Delete the selected entry?"},
    {582, "The kyvo database is empty."},
    {583, "Kyvo busy"},
    {586, "The kyvo is busy. Please wait until it is in Ready-state."},
    {587, "The test configuration has the wrong version and can not be loaded."},
    {590, "The file could not be found: "},
    {591,
     "The RFID tag has not enough capacity to hold the data. Please use a tag with more memory."},
    {592, "The measurement count limitation has been reached."},
    {595, "Result assignement: an illegal index has been found."},
    {596, "Result assignment: an illegal char has been found."},
    {597, "Result assignment: an illegal jump operation has been found."},
    {598, "Result assignment: an illegal number has been found."},
    {599, "Result assignment: an expected operand could not be found."},
    {600, "Result assignment: an illegal jump address has been found."},
    {601, "Result assignment: an illegal assignment has been found."},
    {602, "Result assignment: an operand is NaN (Not a Number)."},
    {603, "Result assignemnt: an infinite loop has been found."},
    {604, "RFID Error: time out."},
    {605, "RFID Error: status error."},
    {606, "RFID Error: collision (more than one tag in range)."},
    {607, "RFID Error: nothing received."},
    {608, "RFID Error: reading of an unencrypted tag is not allowed."},
    {609, "RFID Error: authentification failed."},
    {610, "RFID Error: write fail."},
    {611, "The test configuration has the wrong version."},
    {612, "Aborted by user."},
    {613, "The evaluation starts in "},
    {614, "Place device over white card and press device button."},
    {615, "Place device over test card and press device button."},
    {616, "Test evaluation is running..."},
    {617, "No test configuration found."},
    {618,
     "Please place the device over the test card and the RFID-tag with the test configuration over "
     "the device and press OK."},
    {619, "Delete all entries in the current list?"},
    {625, "The checksum of the test configuration is not correct. The data could be corrupted."},
    {629, "The customer specified in the config is invalid for the device."},
    {638, "Please select a source for the test configuration you want to run."},
    {645, "Yes"},
    {646, "No"},
    {647,
     "An error occured while reading data from the file. Please check if the selected file is "
     "correct."},
    {648, "Incompatible file"},
    {657,
     "The test configurations are not identical. The measurements will be handled as single ones."},
    {658, "Start a second measurement with the same test configuration and combine the results?"},
    {659, "Combine measurements?"},
    {665, "Do you want to save the data before closing the program?"},
    {668,
     "The data format in the chosen file is incompatible with the current data save format. Please "
     "change the data save format through the config file or select a compatible file."},
    {700, "Establish a connection to the device."},
    {701, "Close the connection to the device."},
    {762, "Date/Time of the connected device. Use right mouse button to update it to system time."},
    {763, "Displays the firmware version of the connected device."},
    {766, "Start a new measurement and get the results."},
    {770, "Start a measurement using timer (if declared in test configuration)."},
    {800, "This port does not exist:"},
    {801, "This port is in use by another program:"},
    {802, "You may not open this port:"},
    {803,
     "To get access, copy 70-kyvo-cable.rules to /etc/udev/rules.d and plug the cable in again, "
     "or join the dialout group (sudo usermod -aG dialout $USER) and log in again."},
    {804, "This port cannot be opened:"},
};

TEST(LanguageEntries, everyDisplayedEntryHasItsListedIdAndEnglishText) {
    ASSERT_EQ(std::size(kExpected), kLanguageEntries.size());
    for (std::size_t i = 0; i < kLanguageEntries.size(); ++i) {
        EXPECT_EQ(kExpected[i].first, kLanguageEntries[i].ID) << "position " << i;
        EXPECT_EQ(kExpected[i].second, kLanguageEntries[i].Def) << "ID " << kExpected[i].first;
    }
}

TEST(LanguageEntries, idsAreUniqueAscendingAndLeaveTheEmptyIdFree) {
    std::set<std::uint32_t> seen;
    std::uint32_t previous = 0;
    for (const TLangEntry& e : kLanguageEntries) {
        EXPECT_GT(e.ID, previous);
        EXPECT_NE(kEmptyLangID, e.ID);
        EXPECT_FALSE(e.Def.empty()) << e.ID;
        EXPECT_TRUE(seen.insert(e.ID).second) << e.ID;
        previous = e.ID;
    }
    EXPECT_EQ(9999u, LE_Empty.ID);
    EXPECT_TRUE(LE_Empty.Def.empty());
}

}  // namespace
}  // namespace kyvo
