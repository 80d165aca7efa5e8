#pragma once
// For the start-up benchmark: when VELK_REPORT_FIRST_PAINT is set, the first paint of the Director
// window writes "first-paint" on standard output and ends the application the orderly way.

namespace velk {

class Application;

void reportFirstPaintIfAsked(Application& application);

} // namespace velk
