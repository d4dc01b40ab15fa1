#pragma once

// True when the user interface is Japanese, so texts come from the Japanese table.
bool japaneseInterface();

// For a front end whose output cannot show Japanese (a terminal whose
// character set lacks it): every later text is the English one. Windows
// shows every text, so there it changes nothing.
void preferEnglishTexts();
