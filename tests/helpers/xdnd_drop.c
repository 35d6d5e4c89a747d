/* Drops files on an X window the way a file manager does (XDND version 5),
 * so that a Wine window receives WM_DROPFILES.
 * Usage: xdnd_drop WINDOW-ID X Y FILE... (X, Y: root coordinates inside the window) */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static Display *dpy;
static Window source;

static Atom atom(const char *name) { return XInternAtom(dpy, name, False); }

static void send(Window target, const char *type, long l1, long l2, long l3, long l4)
{
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = target;
    ev.xclient.message_type = atom(type);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)source;
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    ev.xclient.data.l[4] = l4;
    XSendEvent(dpy, target, False, NoEventMask, &ev);
    XFlush(dpy);
}

static int wait_for(const char *type, char *uris, int seconds)
{
    time_t end = time(NULL) + seconds;
    while (time(NULL) <= end) {
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == SelectionRequest) {
                XSelectionRequestEvent *rq = &ev.xselectionrequest;
                XChangeProperty(dpy, rq->requestor, rq->property, rq->target, 8, PropModeReplace,
                                (unsigned char *)uris, (int)strlen(uris));
                XEvent reply;
                memset(&reply, 0, sizeof reply);
                reply.xselection.type = SelectionNotify;
                reply.xselection.requestor = rq->requestor;
                reply.xselection.selection = rq->selection;
                reply.xselection.target = rq->target;
                reply.xselection.property = rq->property;
                reply.xselection.time = rq->time;
                XSendEvent(dpy, rq->requestor, False, NoEventMask, &reply);
                XFlush(dpy);
            } else if (ev.type == ClientMessage && ev.xclient.message_type == atom(type)) {
                return 1;
            }
        }
        struct timespec ts = {0, 20000000};
        nanosleep(&ts, NULL);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 5) {
        fprintf(stderr, "usage: xdnd_drop WINDOW X Y FILE...\n");
        return 2;
    }
    dpy = XOpenDisplay(NULL);
    if (!dpy) return 2;
    Window top = (Window)strtoul(argv[1], NULL, 0);
    int x = atoi(argv[2]), y = atoi(argv[3]);
    size_t cap = 16;
    for (int i = 4; i < argc; ++i) cap += strlen(argv[i]) + 16;
    char *uris = calloc(1, cap);
    for (int i = 4; i < argc; ++i) {
        strcat(uris, "file://");
        strcat(uris, argv[i]);
        strcat(uris, "\r\n");
    }
    source = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(dpy, atom("XdndSelection"), source, CurrentTime);
    Window target = top;  /* Wine marks its top-level windows XdndAware */
    send(target, "XdndEnter", 5L << 24, (long)atom("text/uri-list"), 0, 0);
    send(target, "XdndPosition", 0, ((long)x << 16) | y, CurrentTime, (long)atom("XdndActionCopy"));
    int ok = wait_for("XdndStatus", uris, 5);
    send(target, "XdndDrop", 0, CurrentTime, 0, 0);
    ok = wait_for("XdndFinished", uris, 5) && ok;
    XDestroyWindow(dpy, source);
    XCloseDisplay(dpy);
    free(uris);
    return ok ? 0 : 1;
}
