from tolvo import online, offline
from tolvo.features import stream

from shop.features import Customer, Order


@online(environment=["prod", "staging"], tags={"team": "growth"})
def customer_name(cid: Customer.id) -> Customer.name:
    return lookup(cid)


@offline(cron="1h30m")
def order_total(oid: Order.id, *, scale: float = 1.0) -> Order.total_cents:
    if scale <= 0:
        return 0
    return int(100 * scale)


@stream
async def order_events(topic: str):
    return topic


def lookup(cid):
    """Not a resolver: a plain helper."""
    return str(cid)
