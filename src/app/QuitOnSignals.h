// Ends the application's event loop on the given signals, as a normal quit does, so everything is closed in
// order. Shared by the program and the simulated radio. Call once, after the application object exists.
#pragma once

#include <initializer_list>

void quitOnSignals(std::initializer_list<int> numbers);
