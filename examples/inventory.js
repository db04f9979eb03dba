// A small inventory report: objects, arrays, classes, Maps and Sets.
const config = { title: 'Inventory', limit: 3, currency: { code: 'EUR', symbol: '€' } };
const prices = [12.5, 3, 7.25];
const STATUS = { OPEN: 'open', CLOSED: 'closed' };

let total = 0;
const seen = new Set();
const stock = new Map();

function formatPrice(amount, symbol) {
  const digits = amount > 100 ? amount.toFixed(0) : amount.toFixed(2);
  return `${symbol} ${digits}`;
}

function addItem(name, qty) {
  if (qty < 1) {
    return false;
  }
  stock.set(name.trim(), qty);
  seen.add(name.trim());
  total = total + qty;
  return true;
}

class Shelf {
  static count = 0;
  #label = 'shelf';

  constructor(name) {
    this.name = name;
    this.items = [];
  }

  get size() {
    return 0;
  }

  put(item, qty = 1) {
    this.items.push(item);
    addItem(item, qty);
    return true;
  }
}

const shelf = new Shelf('A');
shelf.put('apples', 4);
shelf.put('pears');

const labels = prices.map(p => formatPrice(p, config.currency.symbol));
const cheap = prices.filter(p => p < 10);

console.log(config.title, labels.join(', '), cheap.length, total, STATUS.OPEN);
