#include "commands.h"

#include <msi.h>

#include <string>

namespace qxdriver {
namespace {

const char* context_name(MSIINSTALLCONTEXT context) {
    switch (context) {
    case MSIINSTALLCONTEXT_USERUNMANAGED:
        return "user";
    case MSIINSTALLCONTEXT_USERMANAGED:
        return "user-managed";
    case MSIINSTALLCONTEXT_MACHINE:
        return "machine";
    default:
        return "other";
    }
}

// One property of a product as Windows Installer reports it; empty when it has none.
std::wstring product_info(const std::wstring& product, MSIINSTALLCONTEXT context,
                          const wchar_t* property) {
    std::wstring value(64, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(value.size());
        const UINT status = MsiGetProductInfoExW(product.c_str(), nullptr, context, property,
                                                 value.data(), &length);
        if (status == ERROR_MORE_DATA) {
            value.assign(length + 1, L'\0');
            continue;
        }
        if (status != ERROR_SUCCESS)
            return std::wstring();
        value.resize(length);
        return value;
    }
}

} // namespace

// What Windows Installer knows of a product, as Apps & features asks it: every context the
// product is installed in for the current user or the machine, and for the first of them its
// name, publisher, version, icon and folder. {"contexts": []} when it is not installed.
int cmd_msi_product(const Invocation& call) {
    require_args(call, 1, "msi-product PRODUCT-CODE");
    const std::wstring& product = call.args[0];
    std::string contexts;
    MSIINSTALLCONTEXT first = MSIINSTALLCONTEXT_NONE;
    // Asked context by context: Wine's MsiEnumProductsExW finds none of them.
    for (const MSIINSTALLCONTEXT context :
         {MSIINSTALLCONTEXT_USERUNMANAGED, MSIINSTALLCONTEXT_USERMANAGED,
          MSIINSTALLCONTEXT_MACHINE}) {
        // "5": INSTALLSTATE_DEFAULT, installed.
        if (product_info(product, context, INSTALLPROPERTY_PRODUCTSTATE) != L"5")
            continue;
        contexts += std::string(contexts.empty() ? "" : ", ") + "\"" + context_name(context) + "\"";
        if (first == MSIINSTALLCONTEXT_NONE)
            first = context;
    }
    std::string out = "{\"contexts\": [" + contexts + "]";
    if (first != MSIINSTALLCONTEXT_NONE) {
        const struct {
            const char* key;
            const wchar_t* property;
        } shown[] = {
            {"name", INSTALLPROPERTY_PRODUCTNAME},       {"publisher", INSTALLPROPERTY_PUBLISHER},
            {"version", INSTALLPROPERTY_VERSIONSTRING},  {"icon", INSTALLPROPERTY_PRODUCTICON},
            {"folder", INSTALLPROPERTY_INSTALLLOCATION},
        };
        for (const auto& item : shown)
            out += std::string(", \"") + item.key +
                   "\": " + json_string(product_info(product, first, item.property));
    }
    write_stdout(out + "}\n");
    return 0;
}

// The product codes installed under an upgrade code, as a JSON list: what a major upgrade leaves.
int cmd_msi_related(const Invocation& call) {
    require_args(call, 1, "msi-related UPGRADE-CODE");
    std::string codes;
    for (DWORD index = 0;; ++index) {
        wchar_t code[39] = {};
        const UINT status = MsiEnumRelatedProductsW(call.args[0].c_str(), 0, index, code);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            throw Failure("MsiEnumRelatedProductsW failed: " + win32_error_text(status));
        codes += (codes.empty() ? "" : ", ") + json_string(code);
    }
    write_stdout("[" + codes + "]\n");
    return 0;
}

} // namespace qxdriver
