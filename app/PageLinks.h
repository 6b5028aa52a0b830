// The row at the foot of each page: the web site's address, Help and About.
#pragma once

class PageHost;
class QHBoxLayout;
class QObject;

// The buttons are named sbtnWeb<number>, sbtnHelp<number> and
// sbtnAbout<number>; their clicks run the host's commands in its error
// boundary, for as long as context lives.
QHBoxLayout* MakePageLinks(PageHost& host, QObject* context, char number);
