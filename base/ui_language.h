#pragma once

// True when the user interface is Japanese, so texts come from the Japanese table.
bool japaneseInterface();
