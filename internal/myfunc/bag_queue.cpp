#include "bag_queue.h"

#include <string.h>

namespace {

inline uint16_t next_index(uint16_t i, uint32_t n) { return uint16_t(i + 1u < n ? i + 1u : 0u); }

}  // namespace

void BagQueueInit(BagQueue* stQueue, uint8_t* RecBuff, uint32_t ucBufSize, uint8_t ucBagNum) {
    stQueue->pucBuf = RecBuff;
    stQueue->usBagLen = ucBufSize;
    stQueue->ucBagNum = ucBagNum;
    stQueue->ucBagCnt = 0;
    stQueue->usHead.store(0, std::memory_order_relaxed);
    stQueue->usTail.store(0, std::memory_order_release);
    if (RecBuff) memset(RecBuff, 0, size_t(ucBufSize) * ucBagNum);
}

int BagQueueAddData(BagQueue* stQueue, const uint8_t* pucBag, uint32_t usBagLen) {
    if (!stQueue->pucBuf || stQueue->ucBagNum == 0 || usBagLen > stQueue->usBagLen) return 0;
    const uint16_t tail = stQueue->usTail.load(std::memory_order_relaxed);
    const uint16_t next = next_index(tail, stQueue->ucBagNum);
    // Full: filling this slot would make the ring look empty and overwrite
    // the oldest pending packet.
    if (next == stQueue->usHead.load(std::memory_order_acquire)) return 0;
    if (usBagLen) memcpy(stQueue->pucBuf + size_t(tail) * stQueue->usBagLen, pucBag, usBagLen);
    stQueue->usTail.store(next, std::memory_order_release);
    return 1;
}

int BagQueueGetData(BagQueue* stQueue, uint8_t** pucBag) {
    const uint16_t head = stQueue->usHead.load(std::memory_order_relaxed);
    if (head == stQueue->usTail.load(std::memory_order_acquire)) return 0;
    *pucBag = stQueue->pucBuf + size_t(head) * stQueue->usBagLen;
    // The slot handed out is refilled only after the next take: with one slot
    // always kept free the producer stops one short of it.
    stQueue->usHead.store(next_index(head, stQueue->ucBagNum), std::memory_order_release);
    return 1;
}

int BagQueueCheckEmpty(BagQueue* stQueue) {
    return stQueue->usHead.load(std::memory_order_acquire) ==
           stQueue->usTail.load(std::memory_order_acquire);
}

void QueueInit(Queue* stQueue, uint8_t* RecBuff, uint16_t ucBufSize) {
    stQueue->pucBuf = RecBuff;
    stQueue->usBufSize = ucBufSize;
    stQueue->usHead.store(0, std::memory_order_relaxed);
    stQueue->usTail.store(0, std::memory_order_release);
    if (RecBuff) memset(RecBuff, 0, ucBufSize);
}

int QueueAddData(Queue* stQueue, uint8_t ucData) {
    if (!stQueue->pucBuf || stQueue->usBufSize == 0) return 0;
    const uint16_t tail = stQueue->usTail.load(std::memory_order_relaxed);
    const uint16_t next = next_index(tail, stQueue->usBufSize);
    if (next == stQueue->usHead.load(std::memory_order_acquire)) return 0;
    stQueue->pucBuf[tail] = ucData;
    stQueue->usTail.store(next, std::memory_order_release);
    return 1;
}

int QueueGetData(Queue* stQueue, uint8_t* pData) {
    const uint16_t head = stQueue->usHead.load(std::memory_order_relaxed);
    if (head == stQueue->usTail.load(std::memory_order_acquire)) return 0;
    *pData = stQueue->pucBuf[head];
    stQueue->usHead.store(next_index(head, stQueue->usBufSize), std::memory_order_release);
    return 1;
}

int QueueCheckEmpty(Queue* stQueue) {
    return stQueue->usHead.load(std::memory_order_acquire) ==
           stQueue->usTail.load(std::memory_order_acquire);
}
