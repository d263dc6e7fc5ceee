// The Excel a user has open, as the test starts it (an ordinary process, not started by COM):
// it opens the add-ins of its start-up folder, registers its application object for other
// programs to find (unless told not to: Excel registers only some time after it starts), shows
// its main window, and answers calls until that window is closed.
#pragma once

namespace standin {

int run_as_users_excel(bool registered);

} // namespace standin
