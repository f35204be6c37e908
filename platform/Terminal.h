#pragma once

/** Whether standard output is a terminal (a bar can be redrawn) rather than a file or pipe. */
bool standardOutputIsTerminal();
