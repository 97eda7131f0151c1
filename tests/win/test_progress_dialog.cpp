// The progress window in this process: its template as compiled, its
// initialisation, and each of its messages.
#include "app/progress_dialog.h"
#include "common/messages.h"
#include "support/program_driver.h"

#include <doctest.h>

#include <commctrl.h>

#include <cstring>
#include <string>

namespace {

HWND CreateProgressDialog()
{
    appInstance = GetModuleHandleA(nullptr);
    InitCommonControls();
    return CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
}

struct DialogOwner {
    HWND window = CreateProgressDialog();
    ~DialogOwner()
    {
        if (IsWindow(window))
            DestroyWindow(window);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ;
    }
};

// DLGTEMPLATEEX, read field by field from the compiled resource.
struct TemplateReader {
    const BYTE* p;
    template <typename T> T Take()
    {
        T value;
        std::memcpy(&value, p, sizeof value);
        p += sizeof value;
        return value;
    }
    // sz_Or_Ord: 0 (none), 0xFFFF + ordinal, or a UTF-16 string.
    std::string TakeText()
    {
        WORD first = Take<WORD>();
        if (first == 0xFFFF)
            return "#" + std::to_string(Take<WORD>());
        std::string text;
        for (WORD c = first; c; c = Take<WORD>())
            text += static_cast<char>(c);
        return text;
    }
    void Align() { p = reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(p) + 3) & ~UINT_PTR(3)); }
};

struct ControlRow {
    int id;
    const char* className;
    const char* text;
    DWORD style;
    short x, y, cx, cy;
};

const ControlRow expectedControls[] = {
    {1, "BUTTON", "OK", 0x50010001, 138, 137, 50, 14},
    {1000, "msctls_progress32", "Progress1", 0x50800001, 7, 24, 288, 10},
    {1009, "STATIC", "Registering COM Servers... Processing: ", 0x50020000, 7, 10, 132, 8},
    {1011, "STATIC", "Registering .NET Assemblies... Processing: ", 0x50020000, 7, 50, 143, 8},
    {1002, "msctls_progress32", "Progress2", 0x50800001, 7, 65, 288, 10},
    {1003, "STATIC", "#104", 0x50000003, 300, 23, 20, 20},
    {1004, "STATIC", "#104", 0x50000003, 300, 64, 20, 20},
    {1005, "STATIC", "", 0x50020000, 145, 10, 175, 8},
    {1006, "STATIC", "", 0x50020000, 155, 50, 160, 8},
    {1012, "STATIC", "Registering ArcObjects... Processing: ", 0x50020000, 7, 90, 125, 8},
    {1007, "msctls_progress32", "Progress2", 0x50800001, 7, 105, 288, 10},
    {1008, "STATIC", "#104", 0x50000003, 300, 104, 20, 20},
    {1010, "STATIC", "", 0x50020000, 136, 90, 170, 8},
};

// Predefined classes are stored as ordinals in a compiled template.
std::string ClassName(const std::string& stored)
{
    if (stored == "#128")
        return "BUTTON";
    if (stored == "#130")
        return "STATIC";
    return stored;
}

// The picture an icon control shows, judged by its opaque pixels: the
// colours that cover at least four of them, in the order red, yellow, green,
// white (the black and grey outlines left out), e.g. "green white".
std::string PictureColours(HWND dialog, int id)
{
    HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageA(dialog, id, STM_GETIMAGE, IMAGE_ICON, 0));
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info))
        return "(no icon)";
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    DWORD colour[16 * 16] = {}, mask[16 * 16] = {};
    HDC screen = GetDC(nullptr);
    const bool read = info.hbmColor && GetDIBits(screen, info.hbmColor, 0, 16, colour, &format, DIB_RGB_COLORS) == 16 &&
                      GetDIBits(screen, info.hbmMask, 0, 16, mask, &format, DIB_RGB_COLORS) == 16;
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    if (!read)
        return "(unreadable)";
    int red = 0, yellow = 0, green = 0, white = 0;
    for (int i = 0; i < 16 * 16; ++i) {
        if (mask[i] & 0xFFFFFF) // a set mask bit: transparent
            continue;
        const int r = GetBValue(colour[i]), g = GetGValue(colour[i]), b = GetRValue(colour[i]); // DIB order: B, G, R
        red += r >= 192 && g < 64 && b < 64;
        yellow += r >= 192 && g >= 192 && b < 64;
        green += g >= 96 && r < 64 && b < 64;
        white += r >= 224 && g >= 224 && b >= 224;
    }
    std::string colours;
    for (auto [name, count] : {std::pair{"red", red}, {"yellow", yellow}, {"green", green}, {"white", white}})
        if (count >= 4)
            colours += (colours.empty() ? "" : " ") + std::string(name);
    return colours;
}

} // namespace

TEST_CASE("template 101 is compiled as designed")
{
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    REQUIRE(resource != nullptr);
    TemplateReader reader{static_cast<const BYTE*>(LockResource(LoadResource(nullptr, resource)))};
    CHECK(reader.Take<WORD>() == 1);      // dlgVer
    CHECK(reader.Take<WORD>() == 0xFFFF); // signature: DLGTEMPLATEEX
    reader.Take<DWORD>();                 // help id
    CHECK(reader.Take<DWORD>() == 0);     // no extended style
    CHECK(reader.Take<DWORD>() == 0x80C808C0);
    CHECK(reader.Take<WORD>() == 13);
    CHECK(reader.Take<short>() == 0);
    CHECK(reader.Take<short>() == 0);
    CHECK(reader.Take<short>() == 327);
    CHECK(reader.Take<short>() == 158);
    CHECK(reader.TakeText() == "");       // no menu
    CHECK(reader.TakeText() == "");       // default dialog class
    CHECK(reader.TakeText() == kWindowTitle);
    CHECK(reader.Take<WORD>() == 8);
    reader.Take<WORD>();                  // weight
    reader.Take<WORD>();                  // italic, charset
    CHECK(reader.TakeText() == "MS Sans Serif");
    for (const ControlRow& expected : expectedControls) {
        CAPTURE(expected.id);
        reader.Align();
        reader.Take<DWORD>(); // help id
        CHECK(reader.Take<DWORD>() == 0);
        CHECK(reader.Take<DWORD>() == expected.style);
        CHECK(reader.Take<short>() == expected.x);
        CHECK(reader.Take<short>() == expected.y);
        CHECK(reader.Take<short>() == expected.cx);
        CHECK(reader.Take<short>() == expected.cy);
        CHECK(reader.Take<DWORD>() == DWORD(expected.id));
        // Window class names are case-insensitive; windres stores them in capitals.
        CHECK(lstrcmpiA(ClassName(reader.TakeText()).c_str(), expected.className) == 0);
        CHECK(reader.TakeText() == expected.text);
        reader.p += reader.Take<WORD>(); // creation data
    }
}

TEST_CASE("the three icons are single 16 x 16 images in 16 colours")
{
    for (int id : {IDI_PENDING, IDI_SUCCESS, IDI_FAILURE}) {
        CAPTURE(id);
        HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
        REQUIRE(group != nullptr);
        const BYTE* directory = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
        WORD count;
        std::memcpy(&count, directory + 4, sizeof count);
        CHECK(count == 1);
        CHECK(directory[6] == 16); // width
        CHECK(directory[7] == 16); // height
        CHECK(directory[8] == 16); // colours
    }
}

TEST_CASE("initialisation: hidden, OK disabled, Close greyed, pending icons")
{
    DialogOwner dialog;
    REQUIRE(dialog.window != nullptr);
    CHECK_FALSE(IsWindowVisible(dialog.window));
    CHECK_FALSE(IsWindowEnabled(GetDlgItem(dialog.window, IDOK)));
    CHECK_FALSE(CloseCommandEnabled(dialog.window));
    CHECK(ControlText(dialog.window, IDC_COM_CAPTION) == "Registering COM Servers... Processing: ");
    for (int bar : {IDC_COM_BAR, IDC_NET_BAR, IDC_ARC_BAR}) {
        CAPTURE(bar);
        CHECK(BarPosition(dialog.window, bar) == 0);
        CHECK(SendMessageA(GetDlgItem(dialog.window, bar), PBM_GETRANGE, FALSE, 0) == 100);
    }
    for (int icon : {IDC_COM_ICON, IDC_NET_ICON, IDC_ARC_ICON}) {
        CAPTURE(icon);
        HWND control = GetDlgItem(dialog.window, icon);
        CHECK(IconStatus(dialog.window, icon) == STATUS_CODE_PENDING);
        CHECK(SendMessageA(control, STM_GETIMAGE, IMAGE_ICON, 0) != 0);
        RECT rect;
        GetWindowRect(control, &rect);
        CHECK(rect.right - rect.left == 16);
        CHECK(rect.bottom - rect.top == 16);
    }
}

TEST_CASE("UM_SETPROGRESS moves a bar and turns its row's icon at 100 and -1 only")
{
    DialogOwner dialog;
    HWND w = dialog.window;
    SendMessageA(w, UM_SETPROGRESS, 100, IDC_NET_BAR);
    CHECK(BarPosition(w, IDC_NET_BAR) == 100);
    CHECK(IconStatus(w, IDC_NET_ICON) == STATUS_CODE_SUCCESS);
    CHECK(IconStatus(w, IDC_COM_ICON) == STATUS_CODE_PENDING);

    SendMessageA(w, UM_SETPROGRESS, 99, IDC_COM_BAR);
    CHECK(BarPosition(w, IDC_COM_BAR) == 99);
    CHECK(IconStatus(w, IDC_COM_ICON) == STATUS_CODE_PENDING);

    SendMessageA(w, UM_SETPROGRESS, 50, IDC_ARC_BAR);
    SendMessageA(w, UM_SETPROGRESS, WPARAM(-1), IDC_ARC_BAR);
    CHECK(IconStatus(w, IDC_ARC_ICON) == STATUS_CODE_FAILURE);
    CHECK(BarPosition(w, IDC_ARC_BAR) == 0); // set, and held within the range

    // An id that is no bar changes nothing.
    for (LPARAM id : {LPARAM(0), LPARAM(1003), LPARAM(1), LPARAM(-1), LPARAM(99999)})
        SendMessageA(w, UM_SETPROGRESS, 100, id);
    CHECK(BarPosition(w, IDC_COM_BAR) == 99);
    CHECK(IconStatus(w, IDC_COM_ICON) == STATUS_CODE_PENDING);
}

TEST_CASE("UM_SETSTATUS sets pending, success or failure; anything else changes nothing")
{
    DialogOwner dialog;
    HWND w = dialog.window;
    // Each status shows its own picture: a white cross on a red disc, a white
    // tick on a green disc, a yellow hourglass.
    SendMessageA(w, UM_SETSTATUS, STATUS_CODE_FAILURE, IDC_COM_ICON);
    CHECK(IconStatus(w, IDC_COM_ICON) == STATUS_CODE_FAILURE);
    CHECK(PictureColours(w, IDC_COM_ICON) == "red white");
    SendMessageA(w, UM_SETSTATUS, STATUS_CODE_SUCCESS, IDC_COM_ICON);
    CHECK(IconStatus(w, IDC_COM_ICON) == STATUS_CODE_SUCCESS);
    CHECK(PictureColours(w, IDC_COM_ICON) == "green white");
    SendMessageA(w, UM_SETSTATUS, STATUS_CODE_PENDING, IDC_COM_ICON);
    CHECK(IconStatus(w, IDC_COM_ICON) == STATUS_CODE_PENDING);
    CHECK(PictureColours(w, IDC_COM_ICON) == "yellow white");

    SendMessageA(w, UM_SETSTATUS, STATUS_CODE_SUCCESS, IDC_ARC_ICON);
    SendMessageA(w, UM_SETSTATUS, 3, IDC_ARC_ICON);
    SendMessageA(w, UM_SETSTATUS, WPARAM(-1), IDC_ARC_ICON);
    SendMessageA(w, UM_SETSTATUS, STATUS_CODE_FAILURE, IDC_ARC_BAR);
    CHECK(IconStatus(w, IDC_ARC_ICON) == STATUS_CODE_SUCCESS);
}

TEST_CASE("UM_SETTEXT sets and clears a label")
{
    DialogOwner dialog;
    HWND w = dialog.window;
    SendMessageA(w, UM_SETTEXT, reinterpret_cast<WPARAM>("AsmBinder.dll"), IDC_COM_LABEL);
    CHECK(ControlText(w, IDC_COM_LABEL) == "AsmBinder.dll");
    SendMessageA(w, UM_SETTEXT, reinterpret_cast<WPARAM>(""), IDC_COM_LABEL);
    CHECK(ControlText(w, IDC_COM_LABEL) == "");
}

TEST_CASE("Esc and Cancel are not handled; OK destroys the window only once enabled, and ends the loop")
{
    DialogOwner dialog;
    HWND w = dialog.window;
    SendMessageA(w, WM_COMMAND, IDCANCEL, 0);
    CHECK(IsWindow(w));
    SendMessageA(w, WM_CLOSE, 0, 0);
    CHECK(IsWindow(w));
    MSG message;
    SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    CHECK(IsWindow(w));
    CHECK_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    EnableWindow(GetDlgItem(w, IDOK), TRUE);
    SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    CHECK_FALSE(IsWindow(w));
    CHECK(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    CHECK(message.wParam == 0);
}

TEST_CASE("UM_FINISH posts the quit message and ends the dialog, shown or hidden")
{
    for (bool shown : {true, false}) {
        CAPTURE(shown);
        DialogOwner dialog;
        HWND w = dialog.window;
        if (shown) {
            ShowWindow(w, SW_SHOW);
            REQUIRE(IsWindowVisible(w));
        }
        SendMessageA(w, UM_FINISH, 0, 0);
        // EndDialog hides a modeless dialog; a hidden one (-nogui) stays hidden.
        CHECK_FALSE(IsWindowVisible(w));
        MSG message{};
        CHECK(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        CHECK(message.wParam == 0);
    }
}
