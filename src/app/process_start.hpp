#pragma once
// How the application sets up its own process before Qt and any other thread start. `main` calls
// it first, and so does every benchmark that measures a path the application runs, so that what
// is set up here shows in their figures as it shows in the application. Anything process-wide
// belongs here, and only what a bound at the cost's own source cannot do instead.

namespace velk {

void startProcess();

} // namespace velk
