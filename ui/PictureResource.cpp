#include "ui/PictureResource.h"

#include "host/Win32Error.h"

#include <cstring>

namespace qx {

namespace {

Outcome<ComPtr<IStream>> StreamOverCopy(const void* bytes, DWORD size) {
    UniqueHGlobal memory(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!memory) {
        return LastWin32Failure();
    }
    void* target = GlobalLock(memory.get());
    if (!target) {
        return LastWin32Failure();
    }
    std::memcpy(target, bytes, size);
    GlobalUnlock(memory.get());

    ComPtr<IStream> stream;
    if (const HRESULT created = CreateStreamOnHGlobal(memory.get(), TRUE, stream.put());
        FAILED(created)) {
        return ComFailure(created);
    }
    memory.release(); // the stream frees it now
    return stream;
}

} // namespace

Outcome<ComPtr<IPicture>> LoadPictureResource(HINSTANCE instance, int resourceId) {
    // Resource memory belongs to the module: found, loaded and locked, but never freed.
    const HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
    const HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = resource ? SizeofResource(instance, resource) : 0;
    if (!bytes || size == 0) {
        return LastWin32Failure();
    }

    auto stream = StreamOverCopy(bytes, size);
    if (!stream) {
        return stream.error();
    }
    ComPtr<IPicture> picture;
    if (const HRESULT decoded = OleLoadPicture(stream.value().get(), static_cast<LONG>(size), FALSE,
                                               __uuidof(IPicture), picture.put_void());
        FAILED(decoded)) {
        return ComFailure(decoded);
    }
    return picture;
}

void DrawPicture(IPicture& picture, HDC dc, const RECT& box) {
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture.get_Width(&width);
    picture.get_Height(&height);
    // Pictures are addressed bottom-up in HIMETRIC: start at the bottom, go up by the height.
    picture.Render(dc, box.left, box.top, box.right - box.left, box.bottom - box.top, 0, height,
                   width, -height, &box);
}

} // namespace qx
