// Failures the platform layer can be told to fake, so that tests reach error
// paths the operating system will not take on demand. Nothing in the library
// calls these.
#pragma once

namespace oskel::platform::testing {

// Win32: the next ChildProcess::start finds that its child cannot be put in
// its job object (as a failed AssignProcessToJobObject would), and must then
// end the child and fail. No effect on POSIX, where children have no job.
void failNextJobAssignment();

} // namespace oskel::platform::testing
