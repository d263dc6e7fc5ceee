// qxdriver: drives and inspects the installer's windows, registry and COM from inside the
// same Wine prefix, for the end-to-end tests.
#include "commands.h"

#include <cwchar>
#include <string>

namespace {

struct Entry {
    const wchar_t* name;
    qxdriver::Command run;
};

const Entry commands[] = {
    {L"wait-window", qxdriver::cmd_wait_window},
    {L"wait-gone", qxdriver::cmd_wait_gone},
    {L"window", qxdriver::cmd_window},
    {L"click", qxdriver::cmd_click},
    {L"release", qxdriver::cmd_release},
    {L"key", qxdriver::cmd_key},
    {L"close", qxdriver::cmd_close},
    {L"syscommand-close", qxdriver::cmd_syscommand_close},
    {L"box", qxdriver::cmd_box},
    {L"press", qxdriver::cmd_press},
    {L"show-box", qxdriver::cmd_show_box},
    {L"reg-get", qxdriver::cmd_reg_get},
    {L"reg-get-dword", qxdriver::cmd_reg_get_dword},
    {L"reg-exists", qxdriver::cmd_reg_exists},
    {L"reg-set", qxdriver::cmd_reg_set},
    {L"reg-set-dword", qxdriver::cmd_reg_set_dword},
    {L"reg-set-binary", qxdriver::cmd_reg_set_binary},
    {L"reg-list-values", qxdriver::cmd_reg_list_values},
    {L"reg-make-volatile", qxdriver::cmd_reg_make_volatile},
    {L"reg-create", qxdriver::cmd_reg_create},
    {L"reg-delete-tree", qxdriver::cmd_reg_delete_tree},
    {L"reg-deny-writes", qxdriver::cmd_reg_deny_writes},
    {L"describe", qxdriver::cmd_describe},
    {L"excel-startup-path", qxdriver::cmd_excel_startup_path},
    {L"excel-version", qxdriver::cmd_excel_version},
    {L"file-attributes", qxdriver::cmd_file_attributes},
    {L"temp-folder", qxdriver::cmd_temp_folder},
    {L"short-path", qxdriver::cmd_short_path},
    {L"long-path", qxdriver::cmd_long_path},
    {L"processes", qxdriver::cmd_processes},
    {L"terminate", qxdriver::cmd_terminate},
    {L"modules", qxdriver::cmd_modules},
    {L"windows", qxdriver::cmd_windows},
    {L"front-window", qxdriver::cmd_front_window},
    {L"shell-window", qxdriver::cmd_shell_window},
    {L"hold-open", qxdriver::cmd_hold_open},
    {L"quarantine", qxdriver::cmd_quarantine},
    {L"scan", qxdriver::cmd_scan},
    {L"run", qxdriver::cmd_run},
    {L"user-sid", qxdriver::cmd_user_sid},
    {L"hold-mutex", qxdriver::cmd_hold_mutex},
    {L"msi-product", qxdriver::cmd_msi_product},
    {L"msi-related", qxdriver::cmd_msi_related},
};

int usage() {
    std::string names;
    for (const auto& entry : commands)
        names += " " + qxdriver::utf8(entry.name);
    qxdriver::write_stderr("usage: qxdriver [--timeout MS] COMMAND ARGS...\ncommands:" + names +
                           "\n");
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    qxdriver::Invocation call;
    std::wstring name;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::wstring arg = argv[i];
            if (arg == L"--timeout" && i + 1 < argc) {
                const long long ms = qxdriver::parse_number(argv[++i]);
                if (ms < 0)
                    throw qxdriver::Failure("--timeout must not be negative");
                call.timeout_ms = static_cast<DWORD>(ms);
            } else if (name.empty()) {
                name = arg;
            } else {
                call.args.push_back(arg);
            }
        }
        for (const auto& entry : commands) {
            if (name == entry.name) {
                const int code = entry.run(call);
                // A command that did its work always says something, so that the test can
                // tell it from a process that never ran it.
                if (code == 0 && !qxdriver::wrote_stdout())
                    qxdriver::write_stdout("done\n");
                return code;
            }
        }
        return usage();
    } catch (const qxdriver::Failure& failure) {
        qxdriver::write_stderr(qxdriver::utf8(name) + ": " + failure.what() + "\n");
        return 1;
    } catch (const std::exception& error) {
        qxdriver::write_stderr(qxdriver::utf8(name) + ": unexpected error: " + error.what() + "\n");
        return 1;
    }
}
