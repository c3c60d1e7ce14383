// Stand-ins for the sound archive operations and the slot plan until their real code is
// merged here; removed then.
#include "sound_archive/N3DSbcsar.h"
int UnpackBcsar(const QByteArray&, const QString&, qint64, bool) { return -1; }
int PackBcsar(QByteArray&, const QString&, bool) { return -1; }
void SetBcsarMessageHandler(TBcsarMessageHandler) {}
