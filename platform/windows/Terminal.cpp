#include "platform/Terminal.h"

#include <io.h>
#include <stdio.h>

bool standardOutputIsTerminal() { return _isatty (_fileno (stdout)) != 0; }
