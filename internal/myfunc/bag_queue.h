#pragma once
// Rings between exactly one producer thread and one consumer thread, without
// a lock: the producer writes only the tail, the consumer only the head, and
// the index stores publish the data (release/acquire).

#include <stdint.h>

#include <atomic>

// Ring of fixed-size packets over the caller's buffer. Empty when head ==
// tail, so it holds at most ucBagNum - 1 packets; BagQueueAddData refuses
// a packet when that many are pending.
struct BagQueue {
    uint8_t* pucBuf = nullptr;
    uint8_t ucBagNum = 0;  // slots
    uint8_t ucBagCnt = 0;  // not maintained
    uint32_t usBagLen = 0; // slot length, bytes
    std::atomic<uint16_t> usHead{0};  // next slot to take (consumer)
    std::atomic<uint16_t> usTail{0};  // next slot to fill (producer)
};

// Attach ucBagNum slots of ucBufSize bytes over RecBuff (which must hold
// ucBufSize * ucBagNum bytes) and zero it. Not concurrent with use.
void BagQueueInit(BagQueue* stQueue, uint8_t* RecBuff, uint32_t ucBufSize,
                  uint8_t ucBagNum);
// Copy usBagLen bytes into the tail slot; 1, or 0 when the ring is full or
// the packet is longer than a slot (nothing is stored then).
int BagQueueAddData(BagQueue* stQueue, const uint8_t* pucBag, uint32_t usBagLen);
// 0 when empty (*pucBag untouched); else *pucBag = the head slot (no copy)
// and 1. The packet stays valid until the consumer's next BagQueueGetData.
int BagQueueGetData(BagQueue* stQueue, uint8_t** pucBag);
int BagQueueCheckEmpty(BagQueue* stQueue);

// Ring of bytes; holds at most usBufSize - 1 bytes.
struct Queue {
    uint8_t* pucBuf = nullptr;
    std::atomic<uint16_t> usHead{0};
    std::atomic<uint16_t> usTail{0};
    uint16_t usBufSize = 0;
};

void QueueInit(Queue* stQueue, uint8_t* RecBuff, uint16_t ucBufSize);
// 1, or 0 when the ring is full (the byte is not stored).
int QueueAddData(Queue* stQueue, uint8_t ucData);
// 0 when empty; else the head byte into *pData and 1.
int QueueGetData(Queue* stQueue, uint8_t* pData);
int QueueCheckEmpty(Queue* stQueue);
