#include "ui/fMsgBox.h"

#include "ui/DpiScaling.h"
#include "ui/PictureResource.h"
#include "ui/SuccessTexts.h"
#include "host/Win32Error.h"
#include "resources/resource.h"

#include <utility>

namespace qx {

namespace {

constexpr wchar_t kWindowClass[] = L"QXSetup.fMsgBox";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = 0;

// Geometry in twips, relative to the client area.
constexpr SIZE kClientTwips = {4668, 2808};
struct TwipsBox {
    int left, top, width, height;
};
constexpr TwipsBox kLabel3Box = {360, 240, 4332, 852};
constexpr TwipsBox kImage1Box = {360, 1080, 3480, 324};
constexpr TwipsBox kLabel2Box = {480, 1680, 3852, 732};

constexpr COLORREF kLabel3Colour = RGB(0, 0, 255);
constexpr int kLabelPointSizeTenths = 108;

void PlaceControl(HWND control, const TwipsBox& box, UINT dpi) {
    SetWindowPos(control, nullptr, TwipsToPixels(box.left, dpi), TwipsToPixels(box.top, dpi),
                 TwipsToPixels(box.width, dpi), TwipsToPixels(box.height, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE WindowSizeAt(UINT dpi) {
    const SIZE client = {TwipsToPixels(kClientTwips.cx, dpi), TwipsToPixels(kClientTwips.cy, dpi)};
    return WindowSizeForClient(client, kWindowStyle, kWindowExStyle, dpi);
}

UniqueHFont CreateLabelFont(UINT dpi) {
    const int height = -MulDiv(kLabelPointSizeTenths, static_cast<int>(dpi), 720);
    return UniqueHFont(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, L"SimSun"));
}

POINT CentredOnMonitorOf(HWND window, SIZE size) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    return POINT{area.left + (area.right - area.left - size.cx) / 2,
                 area.top + (area.bottom - area.top - size.cy) / 2};
}

Status RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, kWindowClass, &existing)) {
        return Completed();
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    // Shared icons and stock objects belong to the system: nothing to free.
    windowClass.hIcon = static_cast<HICON>(LoadImageW(
        instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass)) {
        return LastWin32Failure();
    }
    return Completed();
}

} // namespace

fMsgBox::fMsgBox(HINSTANCE instance, HostServices& host) : instance_(instance), host_(host) {}

Status fMsgBox::Load() {
    if (const auto registered = RegisterWindowClass(instance_, &fMsgBox::WindowProc); !registered) {
        return registered;
    }
    // Without its picture the window still says what matters.
    if (auto picture = LoadPictureResource(instance_, IDR_IMAGE1_JPEG)) {
        picture_ = std::move(picture.value());
    }

    // Created hidden and unsized: its size depends on the DPI of the monitor it lands on.
    const HWND created =
        CreateWindowExW(kWindowExStyle, kWindowClass, kSuccessCaption, kWindowStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance_, this);
    if (!created) {
        return LastWin32Failure();
    }
    const UINT dpi = DpiForWindow(window_);
    const SIZE size = WindowSizeAt(dpi);
    const POINT origin = CentredOnMonitorOf(window_, size);
    SetWindowPos(window_, nullptr, origin.x, origin.y, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(dpi);
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    return Completed();
}

void fMsgBox::Unload() {
    if (!window_) {
        return;
    }
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel) {
        return;
    }
    DestroyWindow(window_);
}

void fMsgBox::Form_Click() {
    host_.UnloadWindow();
}
void fMsgBox::Image1_Click() {
    host_.UnloadWindow();
}
void fMsgBox::Label2_Click() {
    host_.UnloadWindow();
}
void fMsgBox::Label3_Click() {
    host_.UnloadWindow();
}
void fMsgBox::Form_Unload(bool& /*cancel: never set, an unload is never refused*/) {
    host_.EndProgram();
}

LRESULT CALLBACK fMsgBox::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<fMsgBox*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<fMsgBox*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->label3_ = self->image1_ = self->label2_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT fMsgBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return CreateControls() ? 0 : -1;
    case WM_LBUTTONDOWN:
        formButtonDown_ = true;
        return 0;
    case WM_LBUTTONUP:
        // A click is a press and a release on the form; a drag that ends here is not.
        if (std::exchange(formButtonDown_, false)) {
            Form_Click();
        }
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == STN_CLICKED) {
            OnControlClicked(LOWORD(wParam));
        }
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourLabel(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM:
        DrawImage1(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CLOSE:
        host_.UnloadWindow();
        return 0;
    case WM_DPICHANGED: {
        const UINT dpi = LOWORD(wParam);
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        const SIZE size = WindowSizeAt(dpi);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, size.cx, size.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        LayOut(dpi);
        return 0;
    }
    default:
        return DefWindowProcW(window_, message, wParam, lParam);
    }
}

bool fMsgBox::CreateControls() {
    constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOTIFY | SS_NOPREFIX;
    constexpr DWORD kPictureStyle = WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOTIFY;
    const auto create = [this](const wchar_t* text, DWORD style, int id) {
        return CreateWindowExW(0, L"STATIC", text, style, 0, 0, 0, 0, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                               nullptr);
    };
    // Created top to bottom, the order in which they read.
    label3_ = create(kLabel3Text, kLabelStyle, kLabel3Id);
    image1_ = create(L"", kPictureStyle, kImage1Id);
    label2_ = create(kLabel2Text, kLabelStyle, kLabel2Id);
    return label3_ && image1_ && label2_;
}

void fMsgBox::LayOut(UINT dpi) {
    // The font is replaced only after the labels stop using the old one.
    UniqueHFont font = CreateLabelFont(dpi);
    PlaceControl(label3_, kLabel3Box, dpi);
    PlaceControl(image1_, kImage1Box, dpi);
    PlaceControl(label2_, kLabel2Box, dpi);
    SendMessageW(label3_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    SendMessageW(label2_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    labelFont_ = std::move(font);
}

void fMsgBox::OnControlClicked(int controlId) {
    switch (controlId) {
    case kLabel3Id:
        Label3_Click();
        break;
    case kImage1Id:
        Image1_Click();
        break;
    case kLabel2Id:
        Label2_Click();
        break;
    default:
        break;
    }
}

LRESULT fMsgBox::ColourLabel(HDC dc, HWND label) {
    // The window's own white shows through the labels.
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, label == label3_ ? kLabel3Colour : GetSysColor(COLOR_BTNTEXT));
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

void fMsgBox::DrawImage1(const DRAWITEMSTRUCT& item) {
    FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (picture_) {
        DrawPicture(*picture_.get(), item.hDC, item.rcItem);
    }
}

} // namespace qx
