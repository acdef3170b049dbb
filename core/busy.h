// Whether the user is busy: a full-screen program, a full-screen Direct3D
// game, presentation mode, or Windows' quiet time. The new-mail popup and
// sound wait while it says so; the icon and the tool tip never do.
#pragma once

bool user_is_busy(void);
