#include "skywandtester.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    Q_INIT_RESOURCE(Skywandtester);
    int result = 0;
    {
        Skywandtester window(nullptr, Qt::WindowFlags());
        window.show();
        result = application.exec();
    }
    return result;
}
