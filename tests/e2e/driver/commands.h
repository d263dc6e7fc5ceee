#pragma once

#include "cli.h"

namespace qxdriver {

int cmd_wait_window(const Invocation& call);
int cmd_wait_gone(const Invocation& call);
int cmd_window(const Invocation& call);
int cmd_click(const Invocation& call);
int cmd_release(const Invocation& call);
int cmd_key(const Invocation& call);
int cmd_close(const Invocation& call);
int cmd_syscommand_close(const Invocation& call);

int cmd_box(const Invocation& call);
int cmd_press(const Invocation& call);
int cmd_show_box(const Invocation& call);

int cmd_reg_get(const Invocation& call);
int cmd_reg_get_dword(const Invocation& call);
int cmd_reg_exists(const Invocation& call);
int cmd_reg_set(const Invocation& call);
int cmd_reg_set_dword(const Invocation& call);
int cmd_reg_set_binary(const Invocation& call);
int cmd_reg_list_values(const Invocation& call);
int cmd_reg_make_volatile(const Invocation& call);
int cmd_reg_create(const Invocation& call);
int cmd_reg_delete_tree(const Invocation& call);
int cmd_reg_deny_writes(const Invocation& call);
int cmd_describe(const Invocation& call);

int cmd_excel_startup_path(const Invocation& call);
int cmd_excel_version(const Invocation& call);
int cmd_file_attributes(const Invocation& call);
int cmd_temp_folder(const Invocation& call);
int cmd_short_path(const Invocation& call);
int cmd_long_path(const Invocation& call);
int cmd_processes(const Invocation& call);
int cmd_terminate(const Invocation& call);
int cmd_modules(const Invocation& call);
int cmd_run(const Invocation& call);
int cmd_user_sid(const Invocation& call);
int cmd_hold_mutex(const Invocation& call);

int cmd_windows(const Invocation& call);
int cmd_front_window(const Invocation& call);
int cmd_shell_window(const Invocation& call);
int cmd_hold_open(const Invocation& call);
int cmd_quarantine(const Invocation& call);
int cmd_scan(const Invocation& call);

int cmd_msi_product(const Invocation& call);
int cmd_msi_related(const Invocation& call);

} // namespace qxdriver
