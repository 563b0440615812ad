#include "app/VitrelApp.h"

int main(int argc, char** argv)
{
    CVitrelApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
