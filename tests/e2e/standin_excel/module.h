#pragma once

namespace standin {

// Live objects, class factories and LockServer locks keep the DLL loaded.
void add_module_ref();
void release_module_ref();

} // namespace standin
