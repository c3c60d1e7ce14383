#pragma once
// Stand-ins for the parts that other branches of the project bring in (the install worker,
// the music window), used only while those files are not in the tree.

#include <QThread>

#if !__has_include("install/InstallWorker.h")
class TInstallWorker : public QThread {
public:
    using QThread::QThread;
};
#endif

#if !__has_include("music/ChangeMusic.h")
#include <QString>
inline QString DefaultTrackListData() { return QString(); }
#endif
