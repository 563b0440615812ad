#include "app/VitrelApp.h"
#include "formats/StandardFile.h"

int main(int argc, char** argv)
{
    RegisterStandardFormats();
    CVitrelApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
