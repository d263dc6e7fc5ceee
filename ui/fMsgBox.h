#pragma once

#include "host/HostServices.h"
#include "host/ScopedWin.h"

#include <olectl.h>

namespace qx {

// The window shown after a successful install: where to find the add-in in Excel, a picture of
// its menu item, and thanks. Any click closes it, and closing it ends the program.
class fMsgBox {
public:
    fMsgBox(HINSTANCE instance, HostServices& host);
    fMsgBox(const fMsgBox&) = delete;
    fMsgBox& operator=(const fMsgBox&) = delete;

    // Creates and shows the window, non-modal and without an owner.
    Status Load();
    bool IsLoaded() const { return window_ != nullptr; }
    // Runs the unload handler and, unless it cancels, destroys the window.
    void Unload();

    // Event handlers, one per event the window reacts to.
    void Form_Click();
    void Image1_Click();
    void Label2_Click();
    void Label3_Click();
    void Form_Unload(bool& cancel);

private:
    enum ControlId { kLabel3Id = 3, kImage1Id = 1, kLabel2Id = 2 };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool CreateControls();
    void LayOut(UINT dpi);
    void OnControlClicked(int controlId);
    LRESULT ColourLabel(HDC dc, HWND label);
    void DrawImage1(const DRAWITEMSTRUCT& item);

    HINSTANCE instance_;
    HostServices& host_;
    HWND window_ = nullptr; // destroyed by Unload or by the system at the program's end
    HWND label3_ = nullptr;
    HWND image1_ = nullptr;
    HWND label2_ = nullptr;
    UniqueHFont labelFont_;
    ComPtr<IPicture> picture_;
    bool formButtonDown_ = false;
};

} // namespace qx
