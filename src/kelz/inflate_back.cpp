// src/kelz/inflate_back.cpp - zlib's inflateBack: raw Deflate decoded into the caller's window, with input and
// output through the caller's callbacks.
//
// The window is the output buffer: the decoder writes at its fill position and out() gets the window whenever it
// is full and once more at the end. Once it has been filled, the bytes past the fill position are the oldest
// history, which is the layout in which kelsInflate_8u decodes inside its own circular window.
#include <cstring>
#include <new>

#include "kelz/inflate_state.h"

using kel::z::InflateMode;
using kel::z::InflateRun;
using kel::z::InflateState;

extern "C" {

int inflateBackInit_(z_streamp strm, int windowBits, unsigned char* window, const char* version, int stream_size) {
    if (!version || version[0] != ZLIB_VERSION[0] || stream_size != int(sizeof(z_stream))) return Z_VERSION_ERROR;
    if (!strm || !window || windowBits < 8 || windowBits > 15) return Z_STREAM_ERROR;
    strm->msg = Z_NULL;
    kel::z::installDefaultAllocator(strm);
    void* memory = kel::z::allocate(strm, sizeof(InflateState));
    if (!memory) return Z_MEM_ERROR;
    InflateState* s = new (memory) InflateState();
    s->strm = strm;
    s->kind = kel::z::kInflateBackState;
    s->backLayout = true;
    s->wbits = unsigned(windowBits);
    s->wsize = 1u << windowBits;
    s->window = window;
    strm->state = s;
    return Z_OK;
}

int inflateBack(z_streamp strm, in_func in, void* in_desc, out_func out, void* out_desc) {
    internal_state* base = kel::z::stateOf(strm, kel::z::kInflateBackState);
    if (!base) return Z_STREAM_ERROR;
    InflateState& s = *static_cast<InflateState*>(base);
    strm->msg = Z_NULL;
    s.mode = InflateMode::TypeDo;
    s.last = false;
    s.whave = 0;
    s.wnext = 0;
    s.wrap = 0;
    s.flags = -1;
    s.hold = 0;
    s.bits = 0;
    s.back = -1;

    const Kel8u* bufferStart = strm->next_in;
    InflateRun run{strm->next_in, strm->next_in ? strm->avail_in : 0u, s.window, s.wsize, s.window, s.window, false};
    int ret;
    for (;;) {
        ret = kel::z::runInflate(s, run, strm, Z_NO_FLUSH);
        if (ret == Z_STREAM_END || ret == Z_DATA_ERROR) break;
        if (run.left == 0) {
            if (out(out_desc, s.window, s.wsize)) {
                ret = Z_BUF_ERROR;
                break;
            }
            s.whave = s.wsize;
            run.put = run.outStart = run.checkFrom = s.window;
            run.left = s.wsize;
            continue;
        }
        if (run.have == 0) {
            unsigned char* next = nullptr;
            const unsigned got = in(in_desc, &next);
            if (got == 0) {
                run.next = nullptr;
                ret = Z_BUF_ERROR;
                break;
            }
            run.next = bufferStart = next;
            run.have = got;
            continue;
        }
        ret = Z_STREAM_ERROR;  // the decoder stopped with input and room: only a damaged state does that
        break;
    }
    if (ret == Z_STREAM_END && run.next && s.bits >= 8) {
        // Whole bytes read past the end go back to the input (those of the current buffer only).
        unsigned back = s.bits / 8;
        const unsigned read = unsigned(run.next - bufferStart);
        if (back > read) back = read;
        run.next -= back;
        run.have += back;
    }
    if (run.left < s.wsize) {
        if (out(out_desc, s.window, s.wsize - run.left) && ret == Z_STREAM_END) ret = Z_BUF_ERROR;
    }
    strm->next_in = const_cast<Bytef*>(run.next);
    strm->avail_in = run.have;
    return ret;
}

int inflateBackEnd(z_streamp strm) {
    if (!strm || !strm->state || !strm->zfree) return Z_STREAM_ERROR;
    if (!kel::z::stateOf(strm, kel::z::kInflateBackState)) return Z_STREAM_ERROR;
    strm->state->kind = 0;
    kel::z::release(strm, strm->state);
    strm->state = Z_NULL;
    return Z_OK;
}

}  // extern "C"
